#ifndef IAPP_TESTS_COMMON_REMOTE_SERVANT_H
#define IAPP_TESTS_COMMON_REMOTE_SERVANT_H

// A registry reached through the remote-node servant in this process, as a client's requests
// reach it (without the wire): the values a client sends, and the servant's answer.
//
//     iapptest::RemoteServant remote(registryRoot);     // an ORB on a free loopback port
//     EXPECT_EQ(remote.Write("feature/node", remote.One<i_NET::UInt64Buffer>(CORBA::ULongLong(5))), "ok");
//
// Header only: the programs that include it link inet_orb_test_support and kavrel_test_support.

#include <memory>
#include <sstream>
#include <string>
#include <type_traits>
#include <vector>

#include "inet/i_net.hh"
#include "inet/orb_manager.h"
#include "ireg/corba_value.h"
#include "ireg/i_remote_node_impl.h"
#include "mci/node.h"
#include "tests/support/free_port.h"

namespace iapptest {

class RemoteServant {
public:
    // The ORB (which the servant's value conversions need) and the servant over root.
    explicit RemoteServant(const mci::TreeNodePtr& root)
    {
        static char name[] = "test";
        static char* argv[] = {name, nullptr};
        int argc = 1;
        inet::OrbManager::Init(argc, argv, testsupport::FreeLoopbackPort(), 1u << 22);
        ireg::i_RemoteNode_impl::SetRootNode(mci::Node(root, mci::c_noRelPath));
        m_servant = std::make_unique<ireg::i_RemoteNode_impl>();
    }
    ~RemoteServant()
    {
        m_servant.reset();
        ireg::i_RemoteNode_impl::SetRootNode(mci::Node());
        inet::OM().ORBDestroy();
    }
    RemoteServant(const RemoteServant&) = delete;
    RemoteServant& operator=(const RemoteServant&) = delete;

    // The servant's answer to a write of the node at the path ("a/b"): "ok", or the exception's
    // kind and text ("ValueException: ...").
    std::string Write(const std::string& path, const CORBA::Any& value, CORBA::ULong position = 0)
    {
        return _Answer([&] {
            m_servant->SetValue(_Names(path), value, position);
            return std::string("ok");
        });
    }

    // The servant's answer to a read of count values from position (count 0: all from there), as
    // a client without a preferred type asks: the value as ireg::CorbaValueText writes it, or the
    // exception's kind and text as above.
    std::string Read(const std::string& path, CORBA::ULong position = 0, CORBA::ULong count = 0)
    {
        return _Answer([&] {
            std::unique_ptr<CORBA::Any> value(m_servant->GetValue(_Names(path), position, count, CORBA::TypeCode::_nil()));
            return ireg::CorbaValueText(*value);
        });
    }

    // The values as the sequence SEQ in an Any, as a client sends them.
    template <class SEQ, class T>
    static CORBA::Any Values(const std::vector<T>& values)
    {
        SEQ sequence;
        sequence.length(static_cast<CORBA::ULong>(values.size()));
        for (CORBA::ULong i = 0; i < values.size(); ++i) {
            sequence[i] = values[i];
        }
        CORBA::Any any;
        any <<= sequence;
        return any;
    }
    template <class SEQ, class T>
    static CORBA::Any One(const T& value)
    {
        return Values<SEQ>(std::vector<std::decay_t<const T>>{value});
    }

private:
    static i_NET::NodePath _Names(const std::string& path)
    {
        i_NET::NodePath names;
        std::istringstream in(path);
        for (std::string name; std::getline(in, name, '/');) {
            names.length(names.length() + 1);
            names[names.length() - 1] = name.c_str();
        }
        return names;
    }

    template <class F>
    static std::string _Answer(F request)
    {
        try {
            return request();
        } catch (const i_NET::ValueException& e) {
            return std::string("ValueException: ") + e.message.in();
        } catch (const i_NET::InvalidType& e) {
            return std::string("InvalidType: ") + e.message.in();
        } catch (const i_NET::NotFound& e) {
            return std::string("NotFound: ") + e.message.in();
        }
    }

    std::unique_ptr<ireg::i_RemoteNode_impl> m_servant;
};

} // namespace iapptest

#endif
