#include "hpi_seam.h"

#include <algorithm>

namespace bmctest {

namespace {

struct State {
    std::mutex mutex;
    HpiSeam::Settings settings;
    CallCounter calls;
    std::vector<SaHpiSessionIdT> opened;
    std::vector<SaHpiSessionIdT> closed;
    SaHpiSessionIdT nextFake = 1000;
    int openNow = 0;
    int mostOpen = 0;
    int rptCalls = 0;
};

State& TheState()
{
    static State s_state;
    return s_state;
}

HpiSeam::Settings Current()
{
    std::lock_guard<std::mutex> lock(TheState().mutex);
    return TheState().settings;
}

SaHpiVersionT VersionGet()
{
    return Current().fake ? SAHPI_INTERFACE_VERSION : bmc::HpiFunctions::Real().versionGet();
}

SaErrorT SessionOpen(SaHpiDomainIdT domain, SaHpiSessionIdT* session, void* security)
{
    State& state = TheState();
    state.calls.Add("open");
    const HpiSeam::Settings settings = Current();
    if (settings.openError != SA_OK) {
        return settings.openError;
    }
    if (!settings.fake) {
        const SaErrorT error = bmc::HpiFunctions::Real().sessionOpen(domain, session, security);
        if (error == SA_OK) {
            std::lock_guard<std::mutex> lock(state.mutex);
            state.opened.push_back(*session);
        }
        return error;
    }
    std::lock_guard<std::mutex> lock(state.mutex);
    *session = state.nextFake++;
    state.opened.push_back(*session);
    state.mostOpen = std::max(state.mostOpen, ++state.openNow);
    return SA_OK;
}

SaErrorT Discover(SaHpiSessionIdT session)
{
    TheState().calls.Add("discover");
    const HpiSeam::Settings settings = Current();
    if (settings.discoverError != SA_OK) {
        return settings.discoverError;
    }
    return settings.fake ? SA_OK : bmc::HpiFunctions::Real().discover(session);
}

SaErrorT SessionClose(SaHpiSessionIdT session)
{
    State& state = TheState();
    state.calls.Add("close");
    {
        std::lock_guard<std::mutex> lock(state.mutex);
        state.closed.push_back(session);
        if (state.settings.fake) {
            --state.openNow;
            return SA_OK;
        }
    }
    return bmc::HpiFunctions::Real().sessionClose(session);
}

SaErrorT RptEntryGet(SaHpiSessionIdT session, SaHpiEntryIdT entry, SaHpiEntryIdT* next, SaHpiRptEntryT* rptEntry)
{
    State& state = TheState();
    state.calls.Add("rpt");
    const HpiSeam::Settings settings = Current();
    {
        std::lock_guard<std::mutex> lock(state.mutex);
        if (settings.rptCallsBeforeError >= 0 && state.rptCalls >= settings.rptCallsBeforeError) {
            return settings.rptError;
        }
        ++state.rptCalls;
    }
    if (settings.fake) {
        return SA_ERR_HPI_NOT_PRESENT;
    }
    const SaErrorT error = bmc::HpiFunctions::Real().rptEntryGet(session, entry, next, rptEntry);
    if (error == SA_OK && *next == SAHPI_LAST_ENTRY) {
        *next = settings.rptLastLeadsTo;
    }
    return error;
}

SaErrorT RdrGet(SaHpiSessionIdT session, SaHpiResourceIdT resource, SaHpiEntryIdT entry, SaHpiEntryIdT* next,
                SaHpiRdrT* rdr)
{
    TheState().calls.Add("rdr");
    if (Current().fake) {
        return SA_ERR_HPI_NOT_PRESENT;
    }
    return bmc::HpiFunctions::Real().rdrGet(session, resource, entry, next, rdr);
}

const bmc::HpiFunctions c_seam{&VersionGet, &SessionOpen, &Discover, &SessionClose, &RptEntryGet, &RdrGet};

} // namespace

HpiSeam::HpiSeam(const Settings& settings)
{
    State& state = TheState();
    {
        std::lock_guard<std::mutex> lock(state.mutex);
        state.settings = settings;
        state.opened.clear();
        state.closed.clear();
        state.openNow = 0;
        state.mostOpen = 0;
        state.rptCalls = 0;
    }
    state.calls.Clear();
    bmc::SetHpiFunctions(&c_seam);
}

HpiSeam::~HpiSeam()
{
    bmc::SetHpiFunctions(nullptr);
}

const CallCounter& HpiSeam::Calls()
{
    return TheState().calls;
}

std::vector<SaHpiSessionIdT> HpiSeam::Opened()
{
    std::lock_guard<std::mutex> lock(TheState().mutex);
    return TheState().opened;
}

std::vector<SaHpiSessionIdT> HpiSeam::Closed()
{
    std::lock_guard<std::mutex> lock(TheState().mutex);
    return TheState().closed;
}

int HpiSeam::MostOpenAtOnce()
{
    std::lock_guard<std::mutex> lock(TheState().mutex);
    return TheState().mostOpen;
}

} // namespace bmctest
