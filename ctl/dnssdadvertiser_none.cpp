// Built without Avahi (Windows, or no libavahi-client): nothing is
// advertised, and the front end says so.

#include "dnssdadvertiser.h"

struct DnsSdAdvertiser::Private {
};

bool DnsSdAdvertiser::Available()
{
    return false;
}

DnsSdAdvertiser::DnsSdAdvertiser(QObject *parent) : QObject(parent) {}

DnsSdAdvertiser::~DnsSdAdvertiser() = default;

void DnsSdAdvertiser::Start(const DnsSdScope &, const QList<DnsSdInstrument> &) {}
