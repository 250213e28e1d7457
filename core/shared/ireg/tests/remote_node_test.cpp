// The remote-node servant and the CORBA value mapping, seen from a client in its own process.

#include <gtest/gtest.h>

#include <signal.h>

#include <cstring>
#include <string>
#include <utility>
#include <vector>

#include "common/remote_fixture.h"
#include "ireg/corba_value.h"
#include "ireg/reg_value_node.h"
#include "istd/trace_capture.h"
#include "mci/mci.h"
#include "tests/support/wait_until.h"

using iregtest::Line;
using testsupport::WaitUntil;

namespace {

using Cases = std::vector<std::pair<std::string, std::string>>;

class RemoteNodeTest : public iregtest::RemoteRegistryTest {
protected:
    // Runs every command in one client and expects each result.
    void ExpectResults(const Cases& cases)
    {
        std::vector<std::string> commands;
        for (const auto& c : cases) {
            commands.push_back(c.first);
        }
        const std::string out = RunClient(commands);
        for (const auto& c : cases) {
            EXPECT_NE(out.find(Line(c.first, c.second)), std::string::npos)
                << "expected: " << Line(c.first, c.second) << "output:\n"
                << out;
        }
    }

    std::shared_ptr<ireg::RegNode> Child(const std::string& name)
    {
        return std::dynamic_pointer_cast<ireg::RegNode>(m_root->GetNode(name));
    }
};

TEST_F(RemoteNodeTest, BrowsesTheTreeByPathBelowTheRoot)
{
    const std::string signalChildren = "[" + mci::c_accessType + "," + mci::c_atomSize + "," + mci::c_groupSize + "," +
                                       mci::c_compNames + "," + mci::c_compNum + "," + mci::c_compType + "]";
    ExpectResults({
        {"name /", "root"},
        {"nodes /", "[bool,int32,uint32,int64,uint64,double,float,string,bools,int32s,uint32s,int64s,uint64s,"
                    "doubles,floats,strings,empty,enum,enums,cmd,folder,ro,const,validated,plain,signal]"},
        {"count /", "26"},
        {"nameat / 1", "int32"},
        {"nameat / 25", "signal"},
        {"nameat / 26", "NotFound: ireg: Index out of range."},
        {"nameat folder/leaf 0", "NotFound: ireg: Index out of range."},
        {"name folder/leaf", "leaf"},
        {"nodes folder", "[leaf]"},
        {"nodes int32", "[]"},
        {"leaf folder", "false"},
        {"leaf int32", "true"},
        {"size int32s", "5"},
        {"size empty", "0"},
        {"type /", "2"},
        {"type enum", "9"},
        {"type folder", "0"},
        {"flags int32s", "0x206"},
        {"flags ro", "0x2"},
        {"flags signal", "0x402"},
        {"name nope", "NotFound: mci: node not found: /nope"},
        {"count folder/nope", "NotFound: mci: node not found: /folder/nope"},
        {"domain enum",
         "true [unknown, double, float, uint64, int64, uint32, int32, uint16, int16, uint8, int8]"},
        // The out values are set also when the answer is false.
        {"domain int32", "false []"},
        {"validator plain", "false ''"},
        {"validator int32", "true ''"},
        {"validator validated", "true 'T[reject]'"},
        {"signal-nil int32", "nil"},
        {"signal-nil signal", "not nil"},
        {"nodes signal", signalChildren},
        {"flags signal/" + mci::c_compNames, "0x222"},
    });
}

TEST_F(RemoteNodeTest, ReadsEveryValueTypeAsItsCorbaType)
{
    ExpectResults({
        // Scalars: the plain CORBA type, whatever type the client asks for; the count is not used.
        {"get bool 0 0 long", "boolean 1"},
        {"get int32 0 7 string", "long -5"},
        {"get uint32 0 0 long", "ulong 4000000000"},
        {"get int64 0 0 long", "longlong -9000000000"},
        {"get uint64 0 0 long", "ulonglong 18446744073709551615"},
        {"get double 0 0 string", "double 0.25"},
        {"get float 0 0 long", "float 1.5"},
        {"get string 0 0 long", "string text"},
        {"get int32 1 0 long", "ValueException: ireg node int32: Position out of range"},
        // Arrays: the node's sequence type, exactly the slice read.
        {"get bools 0 0 long", "BooleanBuffer [1, 0, 1]"},
        {"get int32s 1 2 long", "Int32Buffer [2, 3]"},
        {"get uint32s 0 0 long", "UInt32Buffer [7, 4000000000]"},
        {"get int64s 0 0 long", "Int64Buffer [-1, 9000000000]"},
        {"get uint64s 0 0 long", "UInt64Buffer [1, 18446744073709551615]"},
        {"get doubles 0 0 long", "DoubleBuffer [0.5, -2.25]"},
        {"get floats 0 0 long", "FloatBuffer [0.5, 3.75]"},
        {"get strings 0 0 long", "StringBuffer [a, b, c]"},
        {"get int32s 3 10 long", "Int32Buffer [4, 5]"},
        {"get int32s 0 4294967295 long", "Int32Buffer [1, 2, 3, 4, 5]"},
        {"get int32s 2 4294967295 long", "Int32Buffer [3, 4, 5]"},
        {"get int32s 5 1 long", "ValueException: ireg node int32s: Position out of range"},
        {"get empty 0 0 long", "Int32Buffer []"},
        // Enumerations by the kind of the TypeCode asked for.
        {"get enum 0 0 long", "long 3"},
        {"get enum 0 0 string", "string int64"},
        {"get enum 0 0 double", "longlong 3"},
        {"get enum 0 0 longlong", "longlong 3"},
        {"get enums 0 0 string", "StringBuffer [double, int32, uint8]"},
        {"get enums 1 1 long", "Int32Buffer [5]"},
        {"get enums 0 0 short", "Int64Buffer [0, 5, 8]"},
        {"get cmd 0 0 string", "string Execute"},
        // Refusals.
        {"get folder 0 0 long", "InvalidType: Node doesn't contain any value."},
        {"get plain 0 0 long", "InvalidType: Node doesn't contain any value."},
        {"get signal 0 0 long", "InvalidType: Node doesn't contain any value."},
        {"get nope 0 0 long", "NotFound: mci: node not found: /nope"},
    });
}

TEST_F(RemoteNodeTest, WritesEverySequenceTypeThroughTheNodesTypedSet)
{
    ExpectResults({
        {"set bool Boolean 0 false", "ok"},
        {"get bool 0 0 long", "boolean 0"},
        {"set bools Boolean 0 0,2,7", "ok"}, // any octet but 0 is true
        {"get bools 0 0 long", "BooleanBuffer [0, 1, 1]"},
        {"set int32 Int32 0 42", "ok"},
        {"get int32 0 0 long", "long 42"},
        {"set uint32 UInt32 0 4294967295", "ok"},
        {"get uint32 0 0 long", "ulong 4294967295"},
        {"set int64 Int64 0 -9223372036854775808", "ok"},
        {"get int64 0 0 long", "longlong -9223372036854775808"},
        {"set uint64 UInt64 0 12345678901234567890", "ok"},
        {"get uint64 0 0 long", "ulonglong 12345678901234567890"},
        {"set double Double 0 0.1", "ok"},
        {"get double 0 0 long", "double 0.10000000000000001"},
        {"set float Float 0 -7.5", "ok"},
        {"get float 0 0 long", "float -7.5"},
        {"set string String 0 hello", "ok"},
        {"get string 0 0 long", "string hello"},
        {"set int32s Int32 1 20,30", "ok"},
        {"get int32s 0 0 long", "Int32Buffer [1, 20, 30, 4, 5]"},
        {"set strings String 2 z", "ok"},
        {"get strings 0 0 long", "StringBuffer [a, b, z]"},
        {"set int32 Int32 0 -", "ok"}, // an empty sequence stores nothing
        {"get int32 0 0 long", "long 42"},
        // Enumerations by name, number and 64-bit number; command nodes.
        {"set enum String 0 uint8", "ok"},
        {"get enum 0 0 string", "string uint8"},
        {"set enum Int32 0 5", "ok"},
        {"get enum 0 0 string", "string int32"},
        {"set enum Int64 0 -1", "ok"},
        {"get enum 0 0 long", "long -1"},
        {"set enums String 1 float,int8", "ok"},
        {"get enums 0 0 string", "StringBuffer [double, float, int8]"},
        {"set cmd String 0 Execute", "ok"},
        {"set cmd Int32 0 238", "ok"},
    });
}

TEST_F(RemoteNodeTest, RefusesWritesWithTheMappingsAndTheNodesTexts)
{
    ExpectResults({
        {"set int32 long 0 5", "ValueException: Cannot convert corba to local type."},
        {"set int32 seqlong 0 5", "InvalidType: Unsupported type: 2"},
        {"set int32 short 0 5", "InvalidType: Unsupported type: 2"},
        {"set double octet 0 5", "InvalidType: Unsupported type: 6"},
        {"set string char 0 65", "InvalidType: Unsupported type: 8"},
        {"set enum short 0 1", "InvalidType: Unsupported type: 9"},
        {"set folder Int32 0 1", "InvalidType: Node doesn't contain any value."},
        {"set folder short 0 1", "InvalidType: Node doesn't contain any value."},
        {"set signal Int32 0 1", "InvalidType: Node doesn't contain any value."},
        {"set int32 String 0 7", "ValueException: ireg: int32: int32: unsupported argument type while setting a node value"},
        {"set int32 Double 0 1.5", "ValueException: ireg: int32: int32: unsupported argument type while setting a node value"},
        {"set int32 Int32 1 5", "ValueException: ireg: int32: Position out of range"},
        {"set int32s Int32 4 8,9", "ValueException: ireg: int32s: Size too large"},
        {"set ro Int32 0 1", "ValueException: Node is not writable."},
        {"set const Int32 0 1", "ValueException: ireg: const: Node is a constant."},
        {"set validated Int32 0 13", "ValueException: ireg: validated: Validation failed: T[reject] for 13"},
        {"set enum String 0 bogus", "ValueException: Invalid integer value"},
        {"set enum Int32 0 42", "ValueException: ireg: enum: invalid value"},
        {"set " + mci::c_compNum + " UInt32 0 1", "NotFound: mci: node not found: /" + mci::c_compNum},
        {"set signal/" + mci::c_compNum + " UInt32 0 1", "ValueException: Node is not writable."},
        {"set nope Int32 0 1", "NotFound: mci: node not found: /nope"},
        // Nothing refused was stored.
        {"get int32 0 0 long", "long -5"},
        {"get int32s 0 0 long", "Int32Buffer [1, 2, 3, 4, 5]"},
        {"get validated 0 0 long", "long 0"},
    });
}

TEST_F(RemoteNodeTest, TracesEnumerationWritesAtDetailLevel)
{
    istd::TraceCapture capture(istd::eTraceDetail);
    ExpectResults({{"set enum String 0 uint8", "ok"}, {"set int32 Int32 0 1", "ok"}});
    EXPECT_TRUE(capture.Contains("Enumeration: enum [uint8]")) << capture.Text();
    EXPECT_FALSE(capture.Contains("Enumeration: int32")) << capture.Text();
}

TEST_F(RemoteNodeTest, SendsPathAndValueOfWritesToSubscribers)
{
    auto watcher = StartClient({"subscribe int64", "unsubscribe int64", "subscribe int32", "subscribe int32s",
                                "subscribe folder/leaf", "subscribe /", "subscribe int32", "notes 4", "stop",
                                "subscribe int32", "subscribe nope", "unsubscribe int32", "quiet 1000", "stop"});
    ASSERT_TRUE(WaitForOutput(*watcher, Line("subscribe int32", "false"))) << watcher->Output();

    // A second client writes.
    ExpectResults({{"set int64 Int64 0 1", "ok"},
                   {"set int32 Int32 0 42", "ok"},
                   {"set int32s Int32 2 7,8", "ok"},
                   {"set folder/leaf Int32 0 9", "ok"},
                   {"set / Int32 0 11", "ok"}});

    ASSERT_TRUE(WaitForOutput(*watcher, Line("stop", "ok"))) << watcher->Output();
    // After StopNotifications nothing reaches the client.
    Child("int32")->Set(int32_t(99), 0, mci::c_noRelPath);
    EXPECT_EQ(watcher->Wait(), 0);

    const std::string out = watcher->Output();
    const std::string expected = Line("subscribe int64", "true") + Line("unsubscribe int64", "true") +
                                 Line("subscribe int32", "true") + Line("subscribe int32s", "true") +
                                 Line("subscribe folder/leaf", "true") + Line("subscribe /", "true") +
                                 Line("subscribe int32", "false") +
                                 "note /int32 type=0 pos=0 value=long 42\n"
                                 "note /int32s type=0 pos=2 value=Int32Buffer [7, 8]\n"
                                 "note /folder/leaf type=0 pos=0 value=long 9\n"
                                 "note / type=0 pos=0 value=long 11\n" +
                                 Line("notes 4", "4") + Line("stop", "ok") + Line("subscribe int32", "false") +
                                 Line("subscribe nope", "false") + Line("unsubscribe int32", "false") +
                                 Line("quiet 1000", "4") + Line("stop", "ok");
    EXPECT_EQ(out, "connected\n" + expected);
}

TEST_F(RemoteNodeTest, ReleasedRemoteNodeGivesWayToAFreshOne)
{
    const std::string out = RunClient(
        {"subscribe int32", "release", "get int32 0 0 long", "renew", "get int32 0 0 long", "unsubscribe int32"});
    EXPECT_NE(out.find("get int32 0 0 long => CORBA::OBJECT_NOT_EXIST"), std::string::npos) << out;
    EXPECT_NE(out.find(Line("get int32 0 0 long", "long -5")), std::string::npos) << out;
    // The new node starts without subscriptions.
    EXPECT_NE(out.find(Line("unsubscribe int32", "false")), std::string::npos) << out;

    const auto made = m_app->Made();
    ASSERT_EQ(made.size(), 2u);
    EXPECT_FALSE(made[0]->IsConnected());
    EXPECT_EQ(made[1]->GetInstanceId(), made[0]->GetInstanceId() + 1);
}

TEST_F(RemoteNodeTest, AKilledClientIsMarkedBrokenAndTheOthersAreStillServed)
{
    istd::TraceCapture capture(istd::eTraceError);
    auto doomed = StartClient({"subscribe int32", "hold"});
    ASSERT_TRUE(WaitForOutput(*doomed, "holding")) << doomed->Output();
    auto survivor = StartClient({"subscribe int32", "notes 2", "get int32 0 0 long"});
    ASSERT_TRUE(WaitForOutput(*survivor, Line("subscribe int32", "true"))) << survivor->Output();
    doomed->Kill(SIGKILL);
    doomed->Wait();

    auto int32 = Child("int32");
    int32->Set(int32_t(1), 0, mci::c_noRelPath);
    int32->Set(int32_t(2), 0, mci::c_noRelPath);
    EXPECT_EQ(survivor->Wait(), 0);
    const std::string out = survivor->Output();
    EXPECT_NE(out.find("note /int32 type=0 pos=0 value=long 1\nnote /int32 type=0 pos=0 value=long 2\n"),
              std::string::npos)
        << out;
    EXPECT_NE(out.find(Line("get int32 0 0 long", "long 2")), std::string::npos) << out;

    const auto made = m_app->Made();
    ASSERT_EQ(made.size(), 2u);
    EXPECT_TRUE(WaitUntil([&] { return made[0]->IsBroken(); }));
    EXPECT_FALSE(made[1]->IsBroken());
    EXPECT_TRUE(WaitUntil([&] { return capture.Contains("Unable to send notifications remotely: CORBA::"); }))
        << capture.Text();
}

// A client that cannot keep up with the changes is never sent a sequence with holes: when its
// queue fills it is broken and its subscriptions go, with a warning in the log; its next
// Subscribe starts afresh and answers true, which tells it that it missed notifications.
TEST_F(RemoteNodeTest, AClientThatFellBehindIsBrokenAndSubscribesAfresh)
{
    mci::DeliveryLimits limits;
    limits.queueCount = 5;
    mci::Dispatcher::GetInstance().SetLimits(limits);
    struct Restore {
        ~Restore() { mci::Dispatcher::GetInstance().SetLimits(mci::DeliveryLimits()); }
    } restore;
    istd::TraceCapture capture(istd::eTraceWarning);
    auto client = StartClient({"slow 1000", "subscribe int32", "quiet 3000", "slow 0", "subscribe int32", "quiet 1000",
                               "notes 1", "subscribe int32"});
    ASSERT_TRUE(WaitForOutput(*client, Line("subscribe int32", "true"))) << client->Output();
    auto int32 = Child("int32");
    for (int32_t i = 1; i <= 20; ++i) {
        int32->Set(i, 0, mci::c_noRelPath);
    }
    const auto made = m_app->Made();
    ASSERT_EQ(made.size(), 1u);
    EXPECT_TRUE(WaitUntil([&] { return made[0]->IsBroken(); }));
    // The client is marked broken before the warning is written.
    EXPECT_TRUE(WaitUntil([&] { return capture.Contains("fell behind: 5 notifications"); })) << capture.Text();

    ASSERT_TRUE(WaitForOutput(*client, Line("slow 0", "ok") + Line("subscribe int32", "true"))) << client->Output();
    EXPECT_FALSE(made[0]->IsBroken());
    int32->Set(int32_t(99), 0, mci::c_noRelPath);
    EXPECT_EQ(client->Wait(), 0);
    // The first change arrived whole when a sender had taken it up before the queue filled, and
    // none of the rest did.
    const std::string out = client->Output();
    const auto expected = [](const std::vector<int32_t>& values) {
        std::string notes;
        for (int32_t value : values) {
            notes += "note /int32 type=0 pos=0 value=long " + std::to_string(value) + "\n";
        }
        const std::string before = std::to_string(values.size() - 1);
        const std::string after = std::to_string(values.size());
        return "connected\n" + Line("slow 1000", "ok") + Line("subscribe int32", "true") +
               Line("quiet 3000", before) + Line("slow 0", "ok") + Line("subscribe int32", "true") +
               Line("quiet 1000", after) + notes + Line("notes 1", after) + Line("subscribe int32", "false");
    };
    EXPECT_TRUE(out == expected({99}) || out == expected({1, 99})) << out;
}

TEST_F(RemoteNodeTest, GivesTheSignalNodesRemoteSignal)
{
    auto client = StartClient({"get signal/" + mci::c_atomSize + " 0 0 long", "get signal/" + mci::c_compNames + " 0 0 long",
                               "get signal/" + mci::c_compType + " 0 0 string",
                               "get signal/" + mci::c_accessType + " 0 0 string", "signal signal 4",
                               "signal int32 1"});
    ASSERT_TRUE(WaitForOutput(*client, "connected 0\n")) << client->Output();
    ASSERT_TRUE(WaitUntil([&] { return m_source.OpenClients() == 1; }));
    m_source.Dispatch({1, 100, 2, 200});
    EXPECT_EQ(client->Wait(), 0);
    const std::string out = client->Output();
    EXPECT_NE(out.find(Line("get signal/" + mci::c_atomSize + " 0 0 long", "ulong 16")), std::string::npos) << out;
    EXPECT_NE(out.find(Line("get signal/" + mci::c_compNames + " 0 0 long", "StringBuffer [code, timestamp]")),
              std::string::npos)
        << out;
    EXPECT_NE(out.find(Line("get signal/" + mci::c_compType + " 0 0 string", "string int64")), std::string::npos)
        << out;
    EXPECT_NE(out.find(Line("get signal/" + mci::c_accessType + " 0 0 string", "string stream")), std::string::npos)
        << out;
    EXPECT_NE(out.find("signal acq-1 atom=16 length=2\n"), std::string::npos) << out;
    EXPECT_NE(out.find(Line("signal signal 4", "atoms 1 100 2 200")), std::string::npos) << out;
    EXPECT_NE(out.find(Line("signal int32 1", "nil")), std::string::npos) << out;
}

// In this process (strings need the code sets of an initialised ORB): the text of CORBA values
// and the element kind of written values.
using CorbaValueTest = inettest::OrbTest;

TEST_F(CorbaValueTest, TextsAndElementKinds)
{
    CORBA::Any any;
    EXPECT_EQ(ireg::CorbaValueText(any), "");
    EXPECT_EQ(ireg::ElementKind(any), CORBA::tk_null);
    any <<= CORBA::Any::from_boolean(1);
    EXPECT_EQ(ireg::CorbaValueText(any), "true");
    any <<= CORBA::Double(1.0 / 3.0);
    EXPECT_EQ(ireg::CorbaValueText(any), "0.333333333333333");
    EXPECT_EQ(ireg::ElementKind(any), CORBA::tk_double);
    any <<= CORBA::Float(1234567.0f);
    EXPECT_EQ(ireg::CorbaValueText(any), "1.23457e+06");
    any <<= CORBA::ULongLong(UINT64_MAX);
    EXPECT_EQ(ireg::CorbaValueText(any), "18446744073709551615");
    any <<= "text";
    EXPECT_EQ(ireg::CorbaValueText(any), "text");
    any <<= CORBA::Short(3);
    EXPECT_EQ(ireg::CorbaValueText(any), "<kind 2>");

    i_NET::BooleanBuffer bits;
    bits.length(2);
    bits[0] = 1;
    bits[1] = 0;
    any <<= bits;
    EXPECT_EQ(ireg::CorbaValueText(any), "[true, false]");
    EXPECT_EQ(ireg::ElementKind(any), CORBA::tk_boolean);
    i_NET::StringBuffer texts;
    texts.length(2);
    texts[0] = "a";
    texts[1] = "b c";
    any <<= texts;
    EXPECT_EQ(ireg::CorbaValueText(any), "[a, b c]");
    EXPECT_EQ(ireg::ElementKind(any), CORBA::tk_string);
}

// The octets of a received value as they would come over the wire, one of them changed.
CORBA::Any Received(const CORBA::Any& sent, size_t fromEnd, CORBA::Octet octet)
{
    cdrEncapsulationStream out;
    sent >>= out;
    std::vector<CORBA::Octet> bytes(static_cast<const CORBA::Octet*>(out.bufPtr()),
                                    static_cast<const CORBA::Octet*>(out.bufPtr()) + out.bufSize());
    bytes[bytes.size() - 1 - fromEnd] = octet;
    cdrEncapsulationStream in(bytes.data(), static_cast<CORBA::ULong>(bytes.size()), 1);
    CORBA::Any received;
    received <<= in;
    return received;
}

// A C++ client cannot send a boolean octet other than 0 or 1, but another can.
TEST_F(CorbaValueTest, AnyBooleanOctetButZeroIsTrue)
{
    i_NET::BooleanBuffer bits;
    bits.length(2);
    bits[0] = false;
    bits[1] = false;
    CORBA::Any sent;
    sent <<= bits;
    const CORBA::Any received = Received(sent, 0, 2); // the last element
    auto node = mci::factory::Create<ireg::RegValueNode<bool>>("bits", std::vector<bool>{true, true}, mci::Flags(6));
    const mci::Node handle(node, mci::c_noRelPath);
    ireg::SetCorbaValue(handle, received, 0);
    EXPECT_EQ(handle.ToString(), "[false, true]");
    EXPECT_EQ(ireg::CorbaValueText(received), "[false, true]");
    CORBA::Any read;
    ireg::GetCorbaValue(handle, 0, 0, CORBA::tk_null, read);
    const i_NET::BooleanBuffer* back = nullptr;
    ASSERT_TRUE(read >>= back);
    unsigned char octet = 0;
    std::memcpy(&octet, &(*back)[1], 1);
    EXPECT_EQ(octet, 1);
}

// A client can send string bytes without the terminator their length promises: the ORB finds
// out only when the value is read. Such a value is no sequence, and nothing of it is lost.
TEST_F(CorbaValueTest, AMalformedValueIsRefusedWithoutLoss)
{
    i_NET::StringBuffer names;
    names.length(1);
    names[0] = "uint8";
    CORBA::Any sent;
    sent <<= names;
    const CORBA::Any received = Received(sent, 0, 'x'); // was the terminator

    auto node = mci::factory::Create<ireg::RegValueNode<std::string>>("text", std::string("before"));
    const mci::Node handle(node, mci::c_noRelPath);
    try {
        ireg::SetCorbaValue(handle, received, 0);
        ADD_FAILURE() << "accepted";
    } catch (const i_NET::ValueException& e) {
        EXPECT_STREQ(e.message.in(), "Cannot convert corba to local type.");
    }
    EXPECT_EQ(handle.ToString(), "before");
    EXPECT_EQ(ireg::CorbaValueText(received), "<invalid value>");
}

} // namespace
