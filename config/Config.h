#pragma once
// The one configuration document of the run: "PurgalaConfig.xml" beside the program file (for an
// installed program, in the user's configuration folder), written with a built-in default when
// missing, loaded once, saved on request.

#include <memory>
#include <string>
#include <string_view>

#include "config/PurgalaConfig.h"
#include "scan/FieldKind.h"

namespace purgala {

// Every save starts with this declaration, the markup follows without a line break.
inline constexpr std::string_view ConfigHeader = R"(<?xml version="1.0" encoding="utf-8"?>)";

// Written byte for byte when no configuration file exists: plain ASCII, tabs between elements,
// no line breaks, nothing after the last tag.
inline constexpr std::string_view DefaultConfigText =
    "<?xml version=\"1.0\" encoding=\"utf-8\"?>"
    "<config versionNo=\"2\">"
    "\t<nodes>"
    "\t\t<node Name=\"File Name\" Visible=\"True\" Index=\"0\" DefaultExport=\"True\" "
    "Width=\"172\" ReadOnly=\"True\" Align=\"left\"/>"
    "\t\t<node Name=\"Full Path\" Visible=\"True\" Index=\"1\" DefaultExport=\"True\" "
    "Width=\"173\" ReadOnly=\"True\" Align=\"left\"/>"
    "\t\t<node Name=\"File Size\" Visible=\"True\" Index=\"2\" DefaultExport=\"True\" "
    "Width=\"84\" ReadOnly=\"True\" Align=\"right\"/>"
    "\t\t<node Name=\"Create Time\" Visible=\"True\" Index=\"3\" DefaultExport=\"True\" "
    "Width=\"120\" ReadOnly=\"True\" Align=\"right\"/>"
    "\t\t<node Name=\"Access Time\" Visible=\"True\" Index=\"4\" DefaultExport=\"True\" "
    "Width=\"120\" ReadOnly=\"True\" Align=\"right\"/>"
    "\t\t<node Name=\"Write Time\" Visible=\"True\" Index=\"5\" DefaultExport=\"True\" "
    "Width=\"120\" ReadOnly=\"True\" Align=\"right\"/>"
    "\t</nodes>"
    "\t<folders>"
    "\t</folders>"
    "</config>";

static_assert(ConfigHeader.size() == 38);
static_assert(DefaultConfigText.size() == 793);
static_assert(DefaultConfigText.starts_with(ConfigHeader));

// Holder of the loaded document. There is one per process, reached through GetConfig; it lives
// until the process ends and is never saved implicitly.
class TConfig final {
    // Only GetConfig can make one.
    struct Key {
        explicit Key() = default;
    };
    friend TConfig& GetConfig();

public:
    // Writes the default file when no regular file stands at the path, then loads it.
    explicit TConfig(Key);
    TConfig(const TConfig&) = delete;
    TConfig& operator=(const TConfig&) = delete;

    std::shared_ptr<IXMLConfigType> GetRoot() const { return root_; }

    // Replaces the file with ConfigHeader followed by the root's markup. The new content goes to
    // a temporary file beside it that is renamed over the old one only when fully written, so a
    // failure (InOutError) leaves the old file as it was. Only where the folder forbids a new
    // file but the file itself is writable is it rewritten in place.
    void Save() const;

    // "PurgalaConfig.xml" as file-system bytes: beside the program file when that can work,
    // otherwise in the user's configuration folder (config/ConfigLocation.h). Computed afresh
    // each time.
    static std::string GetConfigFileName();
    // Writes DefaultConfigText to the configuration file (InOutError on failure, leaving no
    // partial file).
    static void WriteDefaultConfig();

private:
    std::shared_ptr<IXMLConfigType> root_;
};

// The process-wide holder, created on the first call. When creation fails the error goes to the
// caller and nothing is kept, so the next call starts again.
TConfig& GetConfig();

// The display name of a field kind, which is also a column's `Name` in the document.
std::string_view FieldKindName(TFieldKind kind);
// The kind whose display name equals `name` exactly (letter case and blanks count);
// TFieldKind::FileName when none does.
TFieldKind FieldKindOfName(std::string_view name);

// Test seams: tests run in parallel processes and must not write beside the test program.
// A non-empty folder replaces the program's folder in GetConfigFileName; empty restores it.
void SetProgramDirForTesting(std::string dir);
// Drops the process-wide holder so that the next GetConfig starts again.
void ResetConfigForTesting();

}  // namespace purgala
