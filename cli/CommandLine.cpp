#include "cli/CommandLine.h"

#include <getopt.h>
#include <signal.h>
#include <unistd.h>

#include <QString>
#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstring>
#include <exception>
#include <memory>
#include <set>
#include <string_view>
#include <thread>
#include <utility>
#include <vector>

#include "config/Config.h"
#include "config/PurgalaConfig.h"
#include "platform/Errors.h"
#include "platform/FileNames.h"
#include "scan/FolderSpec.h"
#include "scan/KeepRules.h"
#include "scan/ShownTexts.h"
#include "util/FileRemover.h"
#include "util/ListedFile.h"

namespace purgala::cli {

namespace {

using Clock = std::chrono::steady_clock;

constexpr const char* kUsage =
    "Usage: purgala [--help | --version]\n"
    "       purgala [--config FILE] --list [--null | --csv]\n"
    "       purgala [--config FILE] --clean [--dry-run]\n"
    "Lists the files of the folders you keep (each with one extension, or every file) and\n"
    "deletes the ones you leave checked. Without arguments it opens its window.\n"
    "\n"
    "  -l, --list     print the path of every file Check Temps would leave checked\n"
    "  -0, --null     with --list: end each path with a NUL byte, not a newline\n"
    "      --csv      with --list: every listed file as CSV, the kept ones too\n"
    "  -c, --clean    delete what --list prints, in the folders that have an age\n"
    "  -n, --dry-run  with --clean: say what would go, and touch nothing\n"
    "      --config FILE  read this configuration instead (it is never written)\n"
    "  -h, --help     print this text and exit\n"
    "  -V, --version  print the version and exit\n";

// How often the progress line on a terminal changes.
constexpr std::chrono::milliseconds kProgressEvery{200};
// How long a step of the scan or a wait for the remover lasts before the stop flag is looked at.
constexpr std::chrono::milliseconds kPollEvery{50};

// Output through one descriptor in large writes; the first failure is kept and ends the writing.
class TFdOutput {
public:
    explicit TFdOutput(int fd) : fd_(fd) { buffer_.reserve(kSize); }
    ~TFdOutput() { Flush(); }
    TFdOutput(const TFdOutput&) = delete;
    TFdOutput& operator=(const TFdOutput&) = delete;

    void Write(std::string_view text) {
        buffer_.append(text);
        if (buffer_.size() >= kSize) {
            Flush();
        }
    }
    void Put(char c) {
        buffer_.push_back(c);
        if (buffer_.size() >= kSize) {
            Flush();
        }
    }
    // False once a write failed; `Error()` says why.
    bool Flush() {
        std::string_view rest = buffer_;
        while (!rest.empty() && error_ == 0) {
            const ssize_t written = ::write(fd_, rest.data(), rest.size());
            if (written < 0 && errno == EINTR) {
                continue;
            }
            if (written <= 0) {
                error_ = written < 0 ? errno : EIO;
                break;
            }
            rest.remove_prefix(static_cast<std::size_t>(written));
        }
        buffer_.clear();
        return error_ == 0;
    }
    int Error() const { return error_; }

private:
    static constexpr std::size_t kSize = 1 << 16;
    int fd_;
    std::string buffer_;
    int error_ = 0;
};

// Messages on standard error, each its own line; a progress line on a terminal is rewritten in
// place and cleared before any message.
class TMessages {
public:
    // No progress line where the paths go to the same terminal: it would break them up.
    explicit TMessages(int fd, int out = -1)
        : fd_(fd), terminal_(::isatty(fd) == 1 && (out < 0 || ::isatty(out) != 1)) {}
    ~TMessages() { ClearProgress(); }
    TMessages(const TMessages&) = delete;
    TMessages& operator=(const TMessages&) = delete;

    void Line(std::string_view text) {
        ClearProgress();
        std::string line(text);
        line += '\n';
        WriteAll(line);
    }
    void Line(const QString& text) { Line(EncodeText(text)); }
    bool Terminal() const { return terminal_; }
    // `text` is made only when the line is due.
    template <typename MakeText>
    void Progress(MakeText&& text) {
        if (!terminal_ || Clock::now() - shown_ < kProgressEvery) {
            return;
        }
        shown_ = Clock::now();
        WriteAll("\r\033[K" + EncodeText(text()));
        progressShown_ = true;
    }
    void ClearProgress() {
        if (std::exchange(progressShown_, false)) {
            WriteAll("\r\033[K");
        }
    }

private:
    static std::string EncodeText(const QString& text) {
        const QByteArray bytes = text.toUtf8();
        return std::string(bytes.constData(), static_cast<std::size_t>(bytes.size()));
    }
    void WriteAll(std::string_view text) {
        while (!text.empty()) {
            const ssize_t written = ::write(fd_, text.data(), text.size());
            if (written < 0 && errno == EINTR) {
                continue;
            }
            if (written <= 0) {
                return;  // nowhere left to complain to
            }
            text.remove_prefix(static_cast<std::size_t>(written));
        }
    }

    int fd_;
    bool terminal_;
    bool progressShown_ = false;
    Clock::time_point shown_{};
};

// The full path of each file as the scan joined it. Consecutive files mostly share a folder, so
// its path is made once; holding the reference keeps the folder, and so its address, alive.
class TPathMaker {
public:
    const std::string& FolderPath(const TListedEntry& file) {
        if (file.folder.get() != folder_.get()) {
            folder_ = file.folder;
            path_ = folder_->PathWith({});
        }
        return path_;
    }
    std::string FullPath(const TListedEntry& file) {
        std::string path = FolderPath(file);
        path.append(file.name);
        return path;
    }

private:
    TScanFolderRef folder_;
    std::string path_;
};

// What every command's consumer shares: the run it hears from, and whether its output failed.
class TCommandConsumer : public IScanConsumer {
public:
    void SetRun(const TCheckTemps& run) { run_ = &run; }
    virtual bool OutputFailed() const { return false; }

protected:
    const TCheckTemps* run_ = nullptr;
};

// --list: the checked files' paths, one a line (or NUL-ended).
class TListPrinter : public TCommandConsumer {
public:
    TListPrinter(TFdOutput& out, char end) : out_(out), end_(end) {}

    void FolderBegun(const TFolderSpec&) override {}
    void FileListed(const TListedEntry& file) override {
        if (file.reason != TKeepReason::None) {
            return;
        }
        out_.Write(paths_.FolderPath(file));
        out_.Write(file.name);
        out_.Put(end_);
    }
    bool OutputFailed() const override { return out_.Error() != 0; }

private:
    TFdOutput& out_;
    char end_;
    TPathMaker paths_;
};

// One CSV field: quoted when it holds a comma, a quote, CR or LF, with its quotes doubled.
void WriteCsvField(TFdOutput& out, std::string_view field) {
    if (field.find_first_of(",\"\r\n") == std::string_view::npos) {
        out.Write(field);
        return;
    }
    out.Put('"');
    for (char c : field) {
        if (c == '"') {
            out.Put('"');
        }
        out.Put(c);
    }
    out.Put('"');
}

// The exported columns: the document's columns whose DefaultExport is "True", in the grid's
// order (their Index; equal ones in document order).
std::vector<std::pair<std::string, TFieldKind>> ExportedColumns(IXMLConfigType& root) {
    const auto nodes = root.GetNodes();
    std::vector<std::pair<std::int32_t, std::pair<std::string, TFieldKind>>> columns;
    for (int i = 0; i < nodes->GetCount(); ++i) {
        const auto node = nodes->GetNode(i);
        if (node->GetDefaultExport()) {
            std::string name = node->GetName().toStdString();
            const TFieldKind kind = FieldKindOfName(name);
            columns.push_back({node->GetIndex(), {std::move(name), kind}});
        }
    }
    std::stable_sort(columns.begin(), columns.end(),
                     [](const auto& a, const auto& b) { return a.first < b.first; });
    std::vector<std::pair<std::string, TFieldKind>> ordered;
    for (auto& column : columns) {
        ordered.push_back(std::move(column.second));
    }
    return ordered;
}

// --list --csv: every listed file as the grid shows its row, whether it is checked, and why a
// rule left it unchecked, as the row's hint says.
class TCsvPrinter : public TCommandConsumer {
public:
    TCsvPrinter(TFdOutput& out, std::vector<std::pair<std::string, TFieldKind>> columns)
        : out_(out), columns_(std::move(columns)) {
        for (const auto& [name, kind] : columns_) {
            WriteCsvField(out_, name);
            out_.Put(',');
        }
        out_.Write("Checked,Reason\r\n");
    }

    void FolderBegun(const TFolderSpec&) override {}
    void FileListed(const TListedEntry& file) override {
        const std::string path = paths_.FullPath(file);
        // A row of its own for each file, made as the result tree makes its rows' texts; the
        // row's names go to a record that is dropped when the folder changes.
        TFileNodeData row;
        row.AssignFile(path, path.size() - file.name.size(), file.info);
        for (const auto& column : columns_) {
            WriteCsvField(out_, FormatCellText(column.second, &row));
            out_.Put(',');
        }
        out_.Write(file.reason == TKeepReason::None ? "True," : "False,");
        if (file.reason != TKeepReason::None) {
            WriteCsvField(out_, Why(file, row, path));
        }
        out_.Write("\r\n");
    }
    bool OutputFailed() const override { return out_.Error() != 0; }

private:
    std::string Why(const TListedEntry& file, const TFileNodeData& row, const std::string& path) {
        if (!rules_) {
            // The processes are read before the first file reaches a plain consumer.
            rules_.emplace(run_->StartNanos());
            rules_->SetOpenFiles(run_->Result().openFiles);
        }
        const QByteArray why = rules_->Why(file.reason, file.setup, KeptFileOf(row, path)).toUtf8();
        return std::string(why.constData(), static_cast<std::size_t>(why.size()));
    }

    TFdOutput& out_;
    std::vector<std::pair<std::string, TFieldKind>> columns_;
    TPathMaker paths_;
    std::optional<TKeepRules> rules_;
};

// --clean: the checked files go to a remover in batches while the scan goes on, as "&Delete"
// hands its rows over; --dry-run prints them instead.
class TCleaner : public TCommandConsumer {
public:
    TCleaner(bool toTrash, bool dryRun, TFdOutput& out, TMessages& messages,
             const std::atomic<bool>* stop)
        : toTrash_(toTrash),
          dryRun_(dryRun),
          out_(out),
          messages_(messages),
          remover_(toTrash, RemoverWorkers()) {
        if (stop != nullptr) {
            remover_.StopWhen(*stop);
        }
    }

    void FolderBegun(const TFolderSpec&) override {}
    void FileListed(const TListedEntry& file) override {
        if (file.reason != TKeepReason::None || remover_.Stopped()) {
            return;
        }
        if (dryRun_) {
            out_.Write(paths_.FolderPath(file));
            out_.Write(file.name);
            out_.Put('\n');
            removed_.Add(file.info.size);
            return;
        }
        TListedFile listed{file.setup.path, paths_.FullPath(file), file.folder->RootIdentity(),
                           RowStampOf(*file.folder.get(), file.info)};
        gathering_.push_back(std::move(listed));
        if (gathering_.size() >= batchSize_) {
            Hand();
        }
    }
    bool OutputFailed() const override { return out_.Error() != 0; }

    // Hands over what is gathered and waits for every outcome.
    void Finish() {
        if (!gathering_.empty() && !remover_.Stopped()) {
            Hand();
        }
        Collect();
    }
    bool Stopped() const { return remover_.Stopped(); }
    const TFileCount& Removed() const { return removed_; }
    const std::vector<std::pair<std::string, std::string>>& Failures() const { return failures_; }
    const std::string& LastFolder() const { return lastFolder_; }

private:
    // Unlike the window, nobody watches the files go one by one: several go at once. A worker
    // often waits for the disk (the block of an inode being written back), so there are twice
    // as many as cores, up to eight.
    static unsigned RemoverWorkers() {
        return std::clamp(2 * std::thread::hardware_concurrency(), 2u, 8u);
    }

    // Small at first, so that the first files go at once; larger later, for fewer hand-overs.
    static constexpr std::size_t kFirstBatch = 64;
    static constexpr std::size_t kLargestBatch = 16384;

    void Hand() {
        Collect();
        if (remover_.Stopped()) {
            return;
        }
        remover_.Start(std::move(gathering_));
        gathering_.clear();
        batchSize_ = std::min(batchSize_ * 2, kLargestBatch);
    }

    void Collect() {
        if (!remover_.Running()) {
            return;
        }
        std::optional<std::vector<TDeleteOutcome>> outcomes;
        while (!(outcomes = remover_.Take(Clock::now() + kPollEvery))) {
        }
        for (std::size_t i = 0; i < outcomes->size(); ++i) {
            const TListedFile& file = remover_.Batch()[i];
            TDeleteOutcome& outcome = (*outcomes)[i];
            if (outcome.result == TDeleteResult::Untried) {
                continue;
            }
            lastFolder_ = file.folder;
            ++done_;
            if (outcome.result == TDeleteResult::Deleted ||
                outcome.result == TDeleteResult::Trashed) {
                removed_.Add(file.stamp.size);
            } else if (outcome.result == TDeleteResult::Failed &&
                       failed_.insert(file.stamp.identity).second) {
                // The same file met under two configured folders fails once.
                failures_.emplace_back(file.fullPath, std::move(outcome.reason));
            }
        }
        messages_.Progress([&] {
            return (toTrash_ ? QStringLiteral("Moving to the trash from %1: %2 done")
                             : QStringLiteral("Deleting in %1: %2 done"))
                .arg(DecodeFileName(lastFolder_), CountText(done_));
        });
    }

    bool toTrash_;
    bool dryRun_;
    TFdOutput& out_;
    TMessages& messages_;
    TFileRemover remover_;
    TPathMaker paths_;
    std::size_t batchSize_ = kFirstBatch;
    std::vector<TListedFile> gathering_;
    TFileCount removed_;
    std::size_t done_ = 0;
    std::set<TFileIdentity> failed_;
    std::vector<std::pair<std::string, std::string>> failures_;  // path, reason
    std::string lastFolder_;
};

bool StopAsked(const TRunContext& context) {
    return context.stop != nullptr && context.stop->load();
}

// Walks `setups` into `consumer` until done, stopped, or the output failed.
const TCheckTempsResult& Scan(TCheckTemps& run, TCommandConsumer& consumer,
                              const TRunContext& context) {
    consumer.SetRun(run);
    while (!run.Step(Clock::now() + kPollEvery)) {
        if (StopAsked(context) || consumer.OutputFailed()) {
            run.Stop();
        }
    }
    return run.Result();
}

TCheckTempsOptions ScanOptions(const TRunContext& context, TMessages& messages) {
    TCheckTempsOptions options = context.scan;
    if (messages.Terminal()) {
        options.progress = [&messages](const TScanFolder& folder, std::size_t listed) {
            messages.Progress([&] { return ScanningText(folder.PathWith({}), listed); });
        };
    }
    return options;
}

int OutputFailure(TMessages& messages, const TFdOutput& out) {
    messages.Line("purgala: cannot write to standard output: " +
                  std::string(std::strerror(out.Error())));
    return 1;
}

int List(const TCommand& command, IXMLConfigType& root, std::vector<TFolderSpec> setups,
         const TRunContext& context) {
    TFdOutput out(context.out);
    TMessages messages(context.err, context.out);
    std::unique_ptr<TCommandConsumer> consumer;
    if (command.csv) {
        consumer = std::make_unique<TCsvPrinter>(out, ExportedColumns(root));
    } else {
        consumer = std::make_unique<TListPrinter>(out, command.null ? '\0' : '\n');
    }
    const std::size_t folders = setups.size();
    TCheckTemps run(std::move(setups), *consumer, ScanOptions(context, messages));
    const TCheckTempsResult& result = Scan(run, *consumer, context);
    const bool written = out.Flush();
    const bool stopped = result.stopped && StopAsked(context);
    QString text = CheckLeadText(result, run.Setups(), stopped);
    if (!text.isEmpty()) {
        text += QStringLiteral("; ");
    }
    text += CheckTotalsText(result.totals, folders, result.totals.listed.count == 0 && !stopped,
                            result.unreadable.size());
    messages.Line(text);
    if (!written) {
        return OutputFailure(messages, out);
    }
    return stopped || !result.unreadable.empty() ? 1 : 0;
}

int Clean(const TCommand& command, IXMLConfigType& root, std::vector<TFolderSpec> setups,
          const TRunContext& context) {
    TFdOutput out(context.out);
    TMessages messages(context.err, context.out);
    // A folder without an age has nothing that says which of its files may go unseen.
    std::vector<TFolderSpec> aged;
    for (TFolderSpec& setup : setups) {
        if (setup.HasAgeRule()) {
            aged.push_back(std::move(setup));
        } else {
            messages.Line(setup.path + " has no age: it is cleaned only from the window");
        }
    }
    if (aged.empty()) {
        messages.Line(QStringLiteral("No folder has an age: nothing to clean"));
        return 0;
    }
    const bool toTrash = root.GetTrash();
    TCleaner cleaner(toTrash, command.dryRun, out, messages, context.stop);
    const std::size_t folders = aged.size();
    TCheckTemps run(std::move(aged), cleaner, ScanOptions(context, messages));
    const TCheckTempsResult& result = Scan(run, cleaner, context);
    cleaner.Finish();
    const bool written = out.Flush();
    const bool stopped = StopAsked(context);

    QString lead;
    if (command.dryRun) {
        lead = QStringLiteral("Dry run: %1 would be %2")
                   .arg(TotalsText(cleaner.Removed()),
                        toTrash ? QStringLiteral("moved to the trash") : QStringLiteral("deleted"));
    } else {
        lead = RemovedText(cleaner.Removed(), toTrash);
        if (stopped && !cleaner.LastFolder().empty()) {
            lead = StoppedRemovingText(cleaner.LastFolder(), toTrash, lead);
        }
    }
    const QString scanLead = CheckLeadText(result, run.Setups(), result.stopped && stopped);
    if (!scanLead.isEmpty()) {
        lead = scanLead + QStringLiteral("; ") + lead;
    }
    messages.Line(lead + QStringLiteral("; ") +
                  CheckTotalsText(result.totals, folders,
                                  result.totals.listed.count == 0 && !result.stopped,
                                  result.unreadable.size()));
    const auto& failures = cleaner.Failures();
    if (!failures.empty()) {
        messages.Line(failures.size() == 1
                          ? QString(toTrash ? "1 file could not be moved to the trash:"
                                            : "1 file could not be deleted:")
                          : QString(toTrash ? "%1 files could not be moved to the trash:"
                                            : "%1 files could not be deleted:")
                                .arg(CountText(failures.size())));
        for (const auto& [path, reason] : failures) {
            messages.Line(path + ": " + reason);
        }
    }
    if (!result.unreadable.empty()) {
        messages.Line(UnreadableText(result.unreadable, result.unreadable.size()));
    }
    if (!written) {
        return OutputFailure(messages, out);
    }
    return stopped || !failures.empty() || !result.unreadable.empty() ? 1 : 0;
}

std::atomic<bool> signalled{false};

extern "C" void OnStopSignal(int) {
    signalled.store(true);
}

// SIGINT and SIGTERM only set the flag: the work looks at it after each file. Writing to a
// closed pipe fails the write instead of ending the program, so the summary still comes.
void InstallSignalHandlers() {
    static_assert(std::atomic<bool>::is_always_lock_free);
    struct sigaction action {};
    action.sa_handler = OnStopSignal;
    ::sigemptyset(&action.sa_mask);
    action.sa_flags = SA_RESTART;
    ::sigaction(SIGINT, &action, nullptr);
    ::sigaction(SIGTERM, &action, nullptr);
    ::signal(SIGPIPE, SIG_IGN);
}

}  // namespace

TParsed ParseArguments(int argc, char** argv) {
    enum : int { kCsv = 256, kConfig };
    static const option kOptions[] = {
        {"list", no_argument, nullptr, 'l'},
        {"null", no_argument, nullptr, '0'},
        {"csv", no_argument, nullptr, kCsv},
        {"clean", no_argument, nullptr, 'c'},
        {"dry-run", no_argument, nullptr, 'n'},
        {"config", required_argument, nullptr, kConfig},
        {"help", no_argument, nullptr, 'h'},
        {"version", no_argument, nullptr, 'V'},
        {nullptr, 0, nullptr, 0},
    };
    TParsed parsed;
    TCommand& command = parsed.command;
    bool list = false;
    bool clean = false;
    bool help = false;
    bool version = false;
    const auto unknown = [&](const char* word) {
        parsed.error = std::string("unknown argument \"") + word + "\" (see purgala --help)";
        return parsed;
    };
    ::opterr = 0;
    ::optind = 0;  // glibc starts afresh, as each test parses again
    for (;;) {
        const int before = ::optind == 0 ? 1 : ::optind;
        const int option = ::getopt_long(argc, argv, "+:l0cnhV", kOptions, nullptr);
        if (option == -1) {
            break;
        }
        switch (option) {
            case 'l':
                list = true;
                break;
            case '0':
                command.null = true;
                break;
            case kCsv:
                command.csv = true;
                break;
            case 'c':
                clean = true;
                break;
            case 'n':
                command.dryRun = true;
                break;
            case kConfig:
                command.config = ::optarg;
                break;
            case 'h':
                help = true;
                break;
            case 'V':
                version = true;
                break;
            case ':':
                parsed.error = "--config needs a file name";
                return parsed;
            default:
                return unknown(argv[::optind > before ? ::optind - 1 : before]);
        }
    }
    if (::optind < argc) {
        return unknown(argv[::optind]);
    }
    if (help || version) {
        if (list || clean || command.null || command.csv || command.dryRun || command.config) {
            parsed.error = "--help and --version take no other option";
        } else {
            command.mode = help ? TMode::Help : TMode::Version;
        }
        return parsed;
    }
    if (list && clean) {
        parsed.error = "--list and --clean do not go together";
    } else if (command.null && command.csv) {
        parsed.error = "--null and --csv do not go together";
    } else if ((command.null || command.csv) && !list) {
        parsed.error = std::string(command.null ? "--null" : "--csv") + " goes with --list only";
    } else if (command.dryRun && !clean) {
        parsed.error = "--dry-run goes with --clean only";
    } else if (command.config && !list && !clean) {
        parsed.error = "--config goes with --list or --clean";
    } else {
        command.mode = list ? TMode::List : clean ? TMode::Clean : TMode::Window;
    }
    return parsed;
}

int Run(const TCommand& command, const TRunContext& context) {
    std::shared_ptr<IXMLConfigType> root;
    std::vector<TFolderSpec> setups;
    try {
        // Only ever read: the window is what writes a default where none is.
        const std::string path = command.config ? *command.config : TConfig::GetConfigFileName();
        root = LoadConfigDocument(path);
        setups = FolderSpecsOf(root->GetFolders());
        root->GetTrash();
    } catch (const Error& e) {
        TMessages(context.err)
            .Line(std::string("purgala: cannot read the configuration: ") + e.what());
        return 2;
    }
    if (setups.empty()) {
        TMessages(context.err).Line(QStringLiteral("No folders to check: add them under Setting"));
        return 0;
    }
    try {
        return command.mode == TMode::Clean ? Clean(command, *root, std::move(setups), context)
                                            : List(command, *root, std::move(setups), context);
    } catch (const std::exception& e) {
        TMessages(context.err).Line(std::string("purgala: ") + e.what());
        return 1;
    }
}

std::optional<int> Main(int argc, char** argv, const char* version) {
    if (argc <= 1) {
        return std::nullopt;
    }
    const TParsed parsed = ParseArguments(argc, argv);
    TFdOutput out(1);
    if (!parsed.error.empty()) {
        TMessages(2).Line("purgala: " + parsed.error);
        return 2;
    }
    switch (parsed.command.mode) {
        case TMode::Window:
            return std::nullopt;
        case TMode::Help:
        case TMode::Version: {
            out.Write(parsed.command.mode == TMode::Help
                          ? std::string(kUsage)
                          : "Purgala " + std::string(version) + "\n");
            if (!out.Flush()) {
                TMessages messages(2);
                return OutputFailure(messages, out);
            }
            return 0;
        }
        case TMode::List:
        case TMode::Clean:
            break;
    }
    InstallSignalHandlers();
    TRunContext context;
    context.stop = &signalled;
    return Run(parsed.command, context);
}

}  // namespace purgala::cli
