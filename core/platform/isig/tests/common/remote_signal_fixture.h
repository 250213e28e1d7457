#ifndef ISIG_TESTS_REMOTE_SIGNAL_FIXTURE_H
#define ISIG_TESTS_REMOTE_SIGNAL_FIXTURE_H

// A test source with its remote-signal servant activated in the test's loopback ORB, and
// receivers in this process. The servant is shut down before the source goes.

#include "test_source.h"
#include "inet/tests/support/orb_test_support.h"
#include "isig/i_remote_signal_impl.h"

namespace isigtest {

class RemoteSignalFixture : public inettest::OrbTest {
protected:
    void SetUp() override;
    void TearDown() override;

    // A new receiver servant, activated; `ref` names it.
    inettest::TestReceiver* LocalReceiver(i_NET::SignalReceiver_var& ref);

    TestSource m_source{"zolt-1", "zolt-board"};
    isig::i_RemoteSignal_impl* m_servant = nullptr;
    i_NET::RemoteSignal_var m_ref;
};

} // namespace isigtest

#endif
