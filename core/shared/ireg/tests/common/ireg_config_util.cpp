#include "ireg_config_util.h"

namespace iregtest {

std::string ValueAttr(const icfg::ElementPtr& element)
{
    icfg::AttributePtr attribute;
    return element && element->FindAttr("value", attribute) ? attribute->GetValue() : "<none>";
}

} // namespace iregtest
