// A plug-in of the consumer project, built against the installed framework only: one feature
// with a persistent text, which an application that loads it serves as
// application/plugins/consumer/greeting/text.

#include <string>

#include <iapp/kavrel_feature.h>
#include <iapp/kavrel_plugin_handler.h>
#include <ireg/reg_value_node.h>
#include <mci/factory.h>

namespace {

class Greeting : public iapp::KavrelFeature {
public:
    Greeting(iapp::KavrelObject& parent, const std::string& name) : KavrelFeature(parent, name) {}

    void OnRegistryAdd(mci::TreeNodePtr& node) override
    {
        node->Add(mci::factory::Create<ireg::RegValueNode<std::string>>(
            "text", std::string("hello"), mci::enums::eReadable | mci::enums::eWritable | mci::enums::ePersistent));
    }
};

} // namespace

KAVREL_PLUGIN_ENTRY(handler)
{
    handler.SetName("consumer");
    handler.SetVersion("1.0");
    iapp::Create<Greeting>(handler, "greeting");
}
