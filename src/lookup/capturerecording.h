#pragma once

#include "files/capturefolder.h"
#include "lookup/lookupservice.h"

#include <QByteArray>
#include <QHash>
#include <QString>

#include <memory>

class DetailPageBrowser;

// Keeps every page body a service's lookups receive, and the text its embedded browser gives,
// while it exists, so that a lookup can be saved as a capture folder (capture). Made before the
// lookup starts and kept until capture() is called; the service's recorder and browser are its
// own meanwhile and given back by the destructor.
class CaptureRecording
{
public:
    explicit CaptureRecording(LookupService &service);
    ~CaptureRecording();
    CaptureRecording(const CaptureRecording &) = delete;
    CaptureRecording &operator=(const CaptureRecording &) = delete;

    // The capture of a lookup that ended: its index (pages named by their files, the viewer
    // logins replaced by their setting's name) and the files by name, the configuration and area
    // table used among them.
    struct Result
    {
        Capture capture;
        QHash<QString, QByteArray> files;
    };
    Result capture(const LookupOutcome &outcome, const QuerySettings &settings,
                   const QString &program);

private:
    class BodyRecorder;
    class RecordingBrowser;
    LookupService &m_service;
    DetailPageBrowser *m_browserBefore;
    std::unique_ptr<BodyRecorder> m_bodies;
    std::unique_ptr<RecordingBrowser> m_browser;
};
