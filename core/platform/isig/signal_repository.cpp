#include "isig/signal_repository.h"

#include <algorithm>
#include <map>
#include <mutex>

#include "istd/trace.h"

namespace isig {

namespace {

// The state of both repositories. Never destroyed: sources and buffers with static storage
// may unregister after every other static of the library is gone.
struct Registry {
    std::recursive_mutex mutex;
    std::map<uint64_t, SignalSource*> sources;   // by id, so ascending
    std::vector<RandomAccessBuffer*> buffers;    // in registration order
};

Registry& State()
{
    static Registry* const state = new Registry;
    return *state;
}

bool Contains(const std::map<uint64_t, SignalSource*>& sources, SignalSource* source)
{
    auto it = sources.find(source->GetId());
    return it != sources.end() && it->second == source;
}
bool Contains(const std::vector<RandomAccessBuffer*>& buffers, RandomAccessBuffer* buffer)
{
    return std::find(buffers.begin(), buffers.end(), buffer) != buffers.end();
}
SignalSource* Member(const std::pair<const uint64_t, SignalSource*>& entry)
{
    return entry.second;
}
RandomAccessBuffer* Member(RandomAccessBuffer* buffer)
{
    return buffer;
}

// Calls f on every member of the owner; the number reached. The caller holds the (recursive)
// mutex, so a hook may register or unregister members on this thread: the walk goes over the
// members found at the start and skips those that left in the meantime.
template <class Container, class F>
size_t ForEachOfOwner(const Container& members, const std::string& owner, F f)
{
    std::vector<decltype(Member(*members.begin()))> found;
    for (const auto& member : members) {
        if (Member(member)->GetOwner() == owner) {
            found.push_back(Member(member));
        }
    }
    size_t count = 0;
    for (auto* object : found) {
        if (Contains(members, object)) {
            f(*object);
            ++count;
        }
    }
    return count;
}

} // namespace

SignalRepository& SignalRepository::Instance()
{
    static SignalRepository* const instance = new SignalRepository;
    return *instance;
}

std::vector<SignalRepository::Entry> SignalRepository::GetEntries() const
{
    Registry& state = State();
    std::lock_guard<std::recursive_mutex> lock(state.mutex);
    std::vector<Entry> entries;
    entries.reserve(state.sources.size());
    for (const auto& [id, source] : state.sources) {
        entries.push_back({id, source->GetName(), source->GetOwner()});
    }
    return entries;
}

void SignalRepository::NotifyAnnouncedTimestampChange(const std::string& owner)
{
    ISTD_TRACE_FNC("static void isig::SignalRepository::NotifyAnnouncedTimestampChange(const std::string&)");
    Registry& state = State();
    std::lock_guard<std::recursive_mutex> lock(state.mutex);
    const size_t count =
        ForEachOfOwner(state.sources, owner, [](SignalSource& source) { source.OnAnnouncedTimestampChange(); });
    ISTD_TRACE(3, "Announced a time-stamp change to " << count << " signals of " << owner);
}

void SignalRepository::NotifyAdjustedTimestamp(int64_t offset, uint64_t lmt, const std::string& owner)
{
    ISTD_TRACE_FNC("static void isig::SignalRepository::NotifyAdjustedTimestamp(int64_t, uint64_t, const std::string&)");
    Registry& state = State();
    std::lock_guard<std::recursive_mutex> lock(state.mutex);
    const size_t count = ForEachOfOwner(state.sources, owner,
                                        [&](SignalSource& source) { source.OnAdjustedTimestamp(offset, lmt); });
    ISTD_TRACE(3, "Adjusted the time stamps of " << count << " signals of " << owner << " by " << offset);
}

void SignalRepository::_Register(SignalSource* source)
{
    Registry& state = State();
    std::lock_guard<std::recursive_mutex> lock(state.mutex);
    state.sources[source->GetId()] = source;
}

void SignalRepository::_Unregister(SignalSource* source)
{
    Registry& state = State();
    std::lock_guard<std::recursive_mutex> lock(state.mutex);
    state.sources.erase(source->GetId());
}

RandomAccessBuffer::RandomAccessBuffer(const std::string& owner) : m_owner(owner)
{
    Registry& state = State();
    std::lock_guard<std::recursive_mutex> lock(state.mutex);
    state.buffers.push_back(this);
}

RandomAccessBuffer::~RandomAccessBuffer()
{
    UnregisterBuffer();
}

void RandomAccessBuffer::UnregisterBuffer()
{
    Registry& state = State();
    std::lock_guard<std::recursive_mutex> lock(state.mutex);
    auto it = std::find(state.buffers.begin(), state.buffers.end(), this);
    if (it != state.buffers.end()) {
        state.buffers.erase(it);
    }
}

namespace {

// The hook of every buffer of the owner, under the mutex; traced as "<done> n random-access ...".
size_t CallBuffers(const std::string& owner, void (RandomAccessBuffer::*hook)(), const char* done)
{
    Registry& state = State();
    std::lock_guard<std::recursive_mutex> lock(state.mutex);
    const size_t count = ForEachOfOwner(state.buffers, owner, [hook](RandomAccessBuffer& buffer) { (buffer.*hook)(); });
    ISTD_TRACE(3, done << " " << count << " random-access buffers of " << owner);
    return count;
}

} // namespace

size_t RandomAccessBufferRepository::Pause(const std::string& owner)
{
    ISTD_TRACE_FNC("static size_t isig::RandomAccessBufferRepository::Pause(const std::string&)");
    return CallBuffers(owner, &RandomAccessBuffer::OnPause, "Paused");
}

size_t RandomAccessBufferRepository::Resume(const std::string& owner)
{
    ISTD_TRACE_FNC("static size_t isig::RandomAccessBufferRepository::Resume(const std::string&)");
    return CallBuffers(owner, &RandomAccessBuffer::OnResume, "Resumed");
}

} // namespace isig
