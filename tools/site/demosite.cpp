#include "demosite.h"

// Placeholder until the site server lands: start() fails.
struct DemoSite::Impl
{
};

DemoSite::DemoSite(QObject *parent) : QObject(parent), d(std::make_unique<Impl>()) {}
DemoSite::~DemoSite() = default;
bool DemoSite::start(quint16, int) { return false; }
quint16 DemoSite::port() const { return 0; }
QString DemoSite::hostPort() const { return {}; }
