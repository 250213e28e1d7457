#include "iapp/features/events.h"

#include <chrono>
#include <exception>
#include <utility>

#include "iapp/open_stream_client.h"
#include "ireg/reg_fnc_node.h"
#include "ireg/reg_node.h"
#include "ireg/reg_reference_node.h"
#include "istd/exception.h"
#include "istd/trace.h"
#include "mci/factory.h"
#include "mci/tree_node.h"

namespace ifeature {

namespace {

constexpr mci::Flags c_readOnly = 2;
constexpr mci::Flags c_readWrite = 6;
constexpr mci::Flags c_plain = 0;

ireg::RegNode& _Reg(const mci::TreeNodePtr& node)
{
    return static_cast<ireg::RegNode&>(*node);
}

} // namespace

Events::Events(iapp::KavrelObject& parent, const std::string& name, isig::KavrelEventStream* stream,
               const std::vector<Description>& descriptions, Callback callback)
    : KavrelFeature(parent, name),
      m_stream(stream),
      m_streamName(stream != nullptr ? stream->GetName() : name),
      m_descriptions(descriptions),
      m_callback(std::move(callback))
{
    ISTD_TRACE_FNC("ifeature::Events::Events(iapp::KavrelObject&, const std::string&, isig::KavrelEventStream*, "
                   "const std::vector<ifeature::Events::Description>&, std::function<...>)");
    for (const Description& description : m_descriptions) {
        if (description.name == nullptr) {
            throw istd::Exception("ifeature: " + name + ": the description of event " + std::to_string(description.id) +
                                      " has no name",
                                  true);
        }
    }
}

Events::~Events()
{
    ISTD_TRACE(4, "Destroying " << GetName() << " Events");
    _StopReader();
}

void Events::OnRegistryAdd(mci::TreeNodePtr& node)
{
    ISTD_TRACE_FNC("virtual void ifeature::Events::OnRegistryAdd(mci::TreeNodePtr&)");
    node->Add(mci::factory::Create<ireg::RegFncNode<uint64_t>>("current_time", this, nullptr, &Events::GetCurrentLMT,
                                                                c_readOnly));
    std::lock_guard<std::mutex> lock(m_lock);
    for (const Description& description : m_descriptions) {
        mci::TreeNodePtr event = mci::factory::Create<ireg::RegNode>(std::string(description.name), c_plain);
        Data& record = m_records[description.id];
        record.timestampNode =
            mci::factory::Create<ireg::RegReferenceNode<uint64_t>>("timestamp", record.timestamp, c_readOnly);
        record.countNode = mci::factory::Create<ireg::RegReferenceNode<uint64_t>>("count", record.count, c_readWrite);
        record.timestamp = 0;
        record.count = 0;
        event->Add(record.timestampNode);
        event->Add(record.countNode);
        node->Add(event);
    }
}

void Events::OnPostConfig()
{
    ISTD_TRACE_FNC("virtual void ifeature::Events::OnPostConfig()");
    if (m_reader.joinable()) {
        ISTD_TRACE(1, GetName() << ": the events reader runs already.");
        return;
    }
    {
        std::lock_guard<std::mutex> state(m_stateMutex);
        m_readerOpen = false;
        m_readerEnded = false;
    }
    m_reader = std::thread([this] { (*this)(); });
    // One deadline on the steady clock: the machine time here is stepped, and a wake-up must not
    // give the reader its full time again. The reader may have opened before the wait starts.
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(c_openTimeoutMs);
    std::unique_lock<std::mutex> state(m_stateMutex);
    const bool opened =
        m_opened.wait_until(state, deadline, [this] { return m_readerOpen || m_readerEnded; }) && m_readerOpen;
    if (!opened) {
        throw istd::Exception(m_streamName + " was not opened in a reasonable time of " +
                                  std::to_string(c_openTimeoutMs) + " ms.",
                              true);
    }
}

void Events::OnShutdown()
{
    ISTD_TRACE_FNC("virtual void ifeature::Events::OnShutdown()");
    _StopReader();
}

void Events::_StopReader()
{
    {
        std::lock_guard<std::mutex> state(m_stateMutex);
        m_stopRequested = true;
    }
    // A reader that opens after this sees the request; one that opened before is cancelled.
    if (isig::KavrelEventStream* stream = m_stream.exchange(nullptr)) {
        stream->Cancel(std::string(c_clientName));
    }
    if (m_reader.joinable()) {
        m_reader.join();
    }
}

void Events::operator()()
{
    ISTD_TRACE_FNC("void ifeature::Events::operator()()");
    isig::KavrelEventStream::Client client(m_stream.load(), c_clientName, c_queueSize);
    const isig::SuccessCode_e code = iapp::OpenStreamClient(client);
    bool stop = false;
    {
        std::lock_guard<std::mutex> state(m_stateMutex);
        m_readerOpen = code == isig::eSuccess;
        m_readerEnded = !m_readerOpen;
        stop = m_stopRequested;
    }
    m_opened.notify_all();
    if (code != isig::eSuccess || stop) {
        client.Close();
        return;
    }
    _Finish(client);
}

void Events::_Finish(isig::KavrelEventStream::Client& client)
{
    try {
        for (;;) {
            isig::EventStruct event{};
            const isig::SuccessCode_e code = client.Read(event);
            if (code != isig::eSuccess) {
                ISTD_TRACE(1, client.GetName() << ": can't read: " << code);
                break;
            }
            UpdateData(event);
        }
    } catch (const std::exception& e) {
        ISTD_TRACE(2, e.what());
    } catch (...) {
        ISTD_TRACE(2, "Unknown Exception");
    }
    m_stream.store(nullptr);
    client.Close();
}

void Events::UpdateData(const isig::EventStruct& event)
{
    std::lock_guard<std::mutex> lock(m_lock);
    const auto found = m_records.find(event.id);
    if (found == m_records.end()) {
        return;
    }
    Data& record = found->second;
    uint64_t count = 0;
    _Reg(record.countNode).GetValue(count);
    _Reg(record.countNode).SetValue<uint64_t>(count + 1);
    _Reg(record.timestampNode).SetValue<uint64_t>(event.timestamp);
    if (m_callback) {
        m_callback(event.id, event.timestamp, event.value);
    }
}

bool Events::GetCurrentLMT(uint64_t& lmt)
{
    isig::KavrelEventStream::Client client(m_stream.load(), c_currentTimeClientName, c_queueSize);
    if (client.Open() != isig::eSuccess) {
        return false;
    }
    lmt = client.GetCurrentMachineTime().Value();
    return true;
}

void Events::GetLastLMT(const isig::EventIdType& id, uint64_t& lmt)
{
    std::lock_guard<std::mutex> lock(m_lock);
    const auto found = m_records.find(id);
    if (found != m_records.end()) {
        lmt = found->second.timestamp;
    }
}

} // namespace ifeature
