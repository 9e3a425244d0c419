#pragma once

#include "engine/capturereplay.h"
#include "engine/queryconfig.h"
#include "files/capturefolder.h"
#include "model/buyercreditrecord.h"
#include "web/pageresult.h"

#include <QByteArray>
#include <QHash>
#include <QList>
#include <QSet>
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
// file) and what. Errors are what the program refuses (it would not take the configuration);
// warnings are what it takes but reads nothing useful from.
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
    int moreIssues = 0;  // findings past the first kListedIssues, counted only

    static constexpr int kListedIssues = 1000;

    bool hasErrors() const;
    // "LINE: entry N: message" lines (file: prefixed) of every issue, then "and N more".
    QStringList issueLines(const QString &file) const;
};

// The text of a configuration or area table file: UTF-8 when its bytes are valid UTF-8, else code
// page 936, as the web site serves it. False (with the reason) for bytes that are no text (NUL
// bytes, or a file larger than 16 MiB).
bool decodeSiteText(const QByteArray &bytes, QString *text, QString *error);

// Reads a configuration's text as the program does (an indexed list), and checks it. Errors: no
// entry at all, a text that does not name the program (the program ignores such a download), no
// search address (entry 0: no configuration). Warnings: indexes that are not 0 to 90, text with no
// index after it, an entry given twice, a blank entry a rule needs, an address without its
// placeholder or not http, counts received with only some of their markers.
ConfigFile readConfigFile(const QString &text);

// The configuration as an indexed list (one entry a line, each after a filler pair of entry 89
// holding the line break, as our web site writes it); read back it gives the same entries.
QString configText(const QueryConfig &config);

// A capture folder read: the index, the buyer's pages, the configuration it was made with.
struct LoadedCapture
{
    QString folder;
    Capture index;
    CapturePages pages;
    ConfigFile config;
};
// False with the reason: no capture.json, a damaged index, a page file missing, truncated or a
// link. Each file is read once, inside the folder as opened.
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
    // What the lookup saw: every page it asked for, as the capture answered (an address the
    // capture does not hold is refused: kNotInCapture), whether the search page lists the buyer,
    // the user number and the ratings-given list number it cut.
    PageResults pages;
    bool listed = false;
    QString userNumber;
    QString ratingListNumber;
    bool differs() const;
};

// Looks the capture's buyer up with `config`, offline: the lookup itself (queryBuyer) runs with the
// capture's pages in place of the network (CaptureReplay), so block pages (the built-in markers,
// the configuration's, and the pages the capture holds as blocked) give nothing and the detail
// page the browser read is read with the browser's markers. Then says per field which marker was
// not found. `former` is the configuration the capture was made with (for the page text where a
// changed marker stood).
CaptureCheck checkCapture(const QueryConfig &config, const QueryConfig &former,
                          const CapturePages &pages, const BuyerCreditRecord &recorded);

// The markers the rules used on the captures checked but found on none of them: a warning per
// entry, once every capture is checked.
class UnmatchedEntries
{
public:
    void add(const CaptureCheck &check);
    QList<ConfigIssue> issues(const ConfigFile &config) const;

private:
    QSet<int> m_missed;
    QSet<int> m_found;
};

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
