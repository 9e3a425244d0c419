#pragma once

#include "engine/queryconfig.h"
#include "files/capturefolder.h"
#include "model/buyercreditrecord.h"
#include "web/pageresult.h"

#include <QByteArray>
#include <QHash>
#include <QList>
#include <QString>

#include <array>
#include <optional>

// The maintainer's workbench for the query configuration: reading a configuration file with its
// line numbers and naming what is wrong in it, running the page rules of a configuration against
// a capture offline (and saying which marker was not found), and the difference of two
// configurations.

// What an entry is used for: the page it is read on and its part in the rule.
struct ConfigEntryUse
{
    int entry;
    QString page;     // "search", "detail" … as in pageOutcomes; "" for the configuration itself
    QString use;      // in English, as --json says it
    bool required;    // a rule needs it non-blank
    QString shownUse; // use in the user's language
};
// Every entry the program reads, in index order.
const QList<ConfigEntryUse> &configEntryUses();
// An entry's use in words ("detail page: good count (layout A), first marker"), or "not read":
// in the user's language, or (inUserLanguage false) in English, as --json says it.
QString configEntryMeaning(int entry, bool inUserLanguage = true);

// A finding about a configuration file: where (line 0 and entry -1 when it is about the whole
// file) and what. Errors make the configuration unfit to publish; warnings do not.
struct ConfigIssue
{
    int line = 0;
    int entry = -1;
    QString message; // in English, as --json says it
    bool error = true;
    QString shown; // the message in the user's language
};

// A configuration file as read: the entries, the line each was given on (0: not in the file),
// and the findings, in the order of the lines.
struct ConfigFile
{
    QueryConfig config;
    std::array<int, QueryConfig::kSize> line{};
    QList<ConfigIssue> issues;
    bool parsed = false; // false: no configuration at all (the issues say why)

    bool hasErrors() const;
    // "LINE: entry N: message" lines (file: prefixed) of every issue.
    QStringList issueLines(const QString &file) const;
};

// The text of a configuration or area table file: UTF-8 when its bytes are valid UTF-8, else code
// page 936, as the web site serves it. False (with the reason) for bytes that are no text (NUL
// bytes, or a file larger than 16 MiB).
bool decodeSiteText(const QByteArray &bytes, QString *text, QString *error);

// Reads a configuration's text as the program does (an indexed list), and checks it: indexes
// that are not 0 to 90, text with no index after it, an entry given twice, a blank entry a rule
// needs, an address without its placeholder, a text that does not name the program (the program
// ignores such a download).
ConfigFile readConfigFile(const QString &text);

// The configuration as an indexed list (one entry a line, each after a filler pair of entry 89
// holding the line break, as our web site writes it); read back it gives the same entries.
QString configText(const QueryConfig &config);

// What a capture holds for the page rules: the pages' texts as the lookup read them.
struct CapturePages
{
    QString buyerId;
    QHash<QString, QString> texts;        // page -> text (decoded as the fetch decodes)
    QHash<QString, PageOutcome> outcomes; // page -> how its fetch ended
    std::optional<QString> browserDetail; // the embedded browser's text of the detail page
    QString areaTable;
};

// A capture folder read whole: the index, the page texts, the configuration it was made with.
struct LoadedCapture
{
    QString folder;
    Capture index;
    CapturePages pages;
    ConfigFile config;
};
// False with the reason: no capture.json, a damaged index, a page file missing or truncated.
bool loadCapture(const QString &folder, LoadedCapture *capture, QString *error);

// A marker a field's rule did not find: the entry (-1 for a marker built into the rule), its
// text, the page, and the page's text where the marker (or the capture's own marker for that
// entry) nearly or formerly stood; "" when nothing like it is there.
struct MarkerMiss
{
    int entry = -1;
    QString marker;
    QString page;
    QString nearText;
};

struct FieldCheck
{
    QString field;                  // the record's key: "goodCount" …
    QString value;                  // cut with the configuration checked
    QString recorded;               // the capture's record
    QList<int> entries;             // the entries its rule used
    std::optional<MarkerMiss> miss; // for an empty or changed value: the first marker not found
    QString note;      // why it is empty when no marker is to blame ("the capture holds no …")
    QString noteShown; // the note in the user's language
    bool differs() const { return value != recorded; }
};

struct CaptureCheck
{
    BuyerCreditRecord record;
    QList<FieldCheck> fields; // the record's fields but the id, in their order
    bool differs() const;
};

// Runs the page rules of `config` over the capture's pages, offline, as a lookup would have:
// block pages (the built-in markers and the configuration's) give nothing, the detail page the
// browser read is read with the browser's markers. `former` is the configuration the capture was
// made with (for the page text where a changed marker stood).
CaptureCheck checkCapture(const QueryConfig &config, const QueryConfig &former,
                          const CapturePages &pages, const BuyerCreditRecord &recorded);

// One entry that differs between two configuration files.
struct ConfigChange
{
    enum class Kind { Added, Removed, Changed };
    int entry;
    Kind kind;
    QString before; // the old value ("" when added)
    QString after;  // the new value ("" when removed)
};
// The entries added, removed and changed from `before` to `after`, by index.
QList<ConfigChange> diffConfigFiles(const ConfigFile &before, const ConfigFile &after);
