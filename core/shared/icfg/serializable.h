#ifndef ICFG_SERIALIZABLE_H
#define ICFG_SERIALIZABLE_H

#include <string>

#include "icfg/element.h"
#include "icfg/icfg_export.h"

namespace icfg {

// An object that saves itself into and loads itself from configuration elements.
class ICFG_API ISerializable {
public:
    virtual ~ISerializable();

    // Receives the elements that Configuration::Read found (never an empty list) and tells
    // whether the object took them.
    virtual bool Deserialize(const ElementList& elements) = 0;
    // Appends the object's top-level elements; false means "write nothing".
    virtual bool Serialize(ElementList& elements);
    // The name of the object's own element under the root; empty: the whole root element.
    virtual std::string GetClassName();
};

} // namespace icfg

#endif
