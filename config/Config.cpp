#include "config/Config.h"

#include <sys/stat.h>

#include <QByteArray>
#include <QCoreApplication>
#include <QSaveFile>
#include <array>
#include <initializer_list>

#include "config/ConfigLocation.h"
#include "util/Errors.h"
#include "util/FileUtils.h"

namespace purgala {

namespace {

// In TFieldKind order.
constexpr std::array<std::string_view, kFieldKindCount> kFieldKindNames = {
    "File Name",          "Full Path",         "File Size",           "File Ext",
    "File Type",          "Description",       "File Name Length",    "Path Name Length",
    "Size Percentage",    "Catalog Name",      "Create Time",         "Access Time",
    "Write Time",         "DOS Name",          "File Count",          "CreateAgeRange",
    "AccessAgeRange",     "WriteAgeRange",     "SizeRange",           "CreateTime Perview",
    "AccessTime Perview", "WriteTime Perview", "Copy From File Name", "Copy From Full Path",
};

constexpr std::string_view kConfigFileName = "PurgalaConfig.xml";

std::string& ProgramDirForTesting() {
    static std::string dir;
    return dir;
}

std::unique_ptr<TConfig>& Holder() {
    static std::unique_ptr<TConfig> holder;
    return holder;
}

bool IsRegularFile(const std::string& path) {
    struct stat status {};
    return ::stat(path.c_str(), &status) == 0 && S_ISREG(status.st_mode);
}

// Writes to a temporary file beside `path` and renames it over `path` only when every part was
// written and flushed; on any failure the file at `path` is left as it was.
void ReplaceFile(const std::string& path, std::initializer_list<QByteArrayView> parts) {
    MakeParentFolders(path);
    QSaveFile file(DecodeFileName(path));
    const auto fail = [&file, &path] {
        throw InOutError(path + ": " + file.errorString().toStdString());
    };
    // Unbuffered: QSaveFile drops an error of the flush inside commit() and would rename a short
    // file into place; written directly, every short or failed write is seen here.
    if (!file.open(QIODevice::WriteOnly | QIODevice::Unbuffered)) {
        fail();
    }
    for (const QByteArrayView part : parts) {
        if (file.write(part.data(), part.size()) != part.size()) {
            fail();  // the destructor discards the temporary file
        }
    }
    if (!file.commit()) {
        fail();
    }
}

}  // namespace

TConfig::TConfig(Key) {
    const std::string path = GetConfigFileName();
    // A directory or anything else that is not a regular file counts as missing; writing then
    // fails and reports it.
    if (!IsRegularFile(path)) {
        WriteDefaultConfig();
    }
    root_ = LoadConfigDocument(DecodeFileName(path));
}

void TConfig::Save() const {
    const QByteArray markup = root_->GetXML().toUtf8();
    ReplaceFile(GetConfigFileName(),
                {QByteArrayView(ConfigHeader.data(), ConfigHeader.size()), QByteArrayView(markup)});
}

std::string TConfig::GetConfigFileName() {
    std::string dir = ProgramDirForTesting();
    if (dir.empty()) {
        dir = EncodeFileName(QCoreApplication::applicationDirPath());
    }
    // The separator is added even after "/", which the file system reads as one.
    return ChooseConfigFile(dir, kConfigFileName);
}

void TConfig::WriteDefaultConfig() {
    ReplaceFile(GetConfigFileName(),
                {QByteArrayView(DefaultConfigText.data(), DefaultConfigText.size())});
}

TConfig& GetConfig() {
    std::unique_ptr<TConfig>& holder = Holder();
    if (!holder) {
        holder = std::make_unique<TConfig>(TConfig::Key{});
    }
    return *holder;
}

std::string_view FieldKindName(TFieldKind kind) {
    return kFieldKindNames.at(Ord(kind));
}

TFieldKind FieldKindOfName(std::string_view name) {
    TFieldKind found = TFieldKind::FileName;
    for (std::size_t i = 0; i < kFieldKindNames.size(); ++i) {
        if (kFieldKindNames[i] == name) {
            found = static_cast<TFieldKind>(i);
        }
    }
    return found;
}

void SetProgramDirForTesting(std::string dir) {
    ProgramDirForTesting() = std::move(dir);
}

void ResetConfigForTesting() {
    Holder().reset();
}

}  // namespace purgala
