#pragma once

#include "engine/configcheck.h"

#include <QList>
#include <QString>

// Rule repair on the workbench: where a value a person reads on a buyer's page sits in the
// captures, and the start and end markers that cut exactly that value from every one of them, as
// configuration lines to paste in.
class MarkerFinder
{
public:
    // Where the value stands on one capture's page.
    struct Sighting
    {
        QString capture;       // the capture's folder
        QString page;          // "detail", "search" … as the lookup names it
        bool browser = false;  // in the embedded browser's text of the page, not the fetched one
        qsizetype at = 0;      // position in the page's text (UTF-16 units)
        QString around;        // the text around it, the value in [ ]
        bool inScript = false; // inside a <script> element: the page shows it by script
    };

    // Entries that cut the value, for one field of the record.
    struct Proposal
    {
        QString field;      // the record's key: "goodRate" …
        QString fieldShown; // the field, and the layout where it matters, in the user's language
        QList<std::pair<int, QString>> entries; // first, second (blank), end marker
        QString readBack;   // what the lookup reads for the field with them, on every capture
        bool reads = false; // readBack is the value on every capture
    };

    struct Result
    {
        QList<Sighting> sightings;
        QString page;         // the page the proposal is for ("" when there is none)
        bool browser = false; // … in the embedded browser's text
        std::optional<Proposal> proposal;
        QString why; // no proposal: why, in the user's language
        QString whyEnglish;
    };

    // Looks for `value` on every buyer page of the captures and proposes markers for `field`
    // ("" picks by the page and the value's form: a decimal number on the detail page is the good
    // rate, a whole number the good count, other text the verification).
    static Result find(const QString &value, const QList<LoadedCapture> &captures,
                       const QString &field = {});

    // The fields a proposal can be made for.
    static QStringList fields();

    // Configuration lines for the entries: "#89#VALUE#N#", as our site writes the file.
    static QStringList entryLines(const Proposal &proposal);
};
