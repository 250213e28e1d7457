#include "remote_signal_fixture.h"

namespace isigtest {

void RemoteSignalFixture::SetUp()
{
    OrbTest::SetUp();
    m_servant = new isig::i_RemoteSignal_impl(&m_source);
    inet::OM().Activate(m_servant);
    m_ref = m_servant->_this();
}

void RemoteSignalFixture::TearDown()
{
    m_servant->ShutDown();
    inet::OM().Deactivate(m_servant);
    m_ref = i_NET::RemoteSignal::_nil();
    OrbTest::TearDown();
}

inettest::TestReceiver* RemoteSignalFixture::LocalReceiver(i_NET::SignalReceiver_var& ref)
{
    auto* receiver = new inettest::TestReceiver;
    inet::OM().Activate(receiver);
    ref = receiver->_this();
    return receiver;
}

} // namespace isigtest
