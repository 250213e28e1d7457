#ifndef TESTS_SUPPORT_ELEMENT_RECORDER_H
#define TESTS_SUPPORT_ELEMENT_RECORDER_H

// For programs that link the configuration library (header only): a serialisable object that
// keeps what Configuration::Read hands over and gives Configuration::Write a prepared list.

#include "icfg/serializable.h"

namespace testsupport {

class ElementRecorder : public icfg::ISerializable {
public:
    bool Deserialize(const icfg::ElementList& elements) override
    {
        received = elements;
        return true;
    }
    bool Serialize(icfg::ElementList& elements) override
    {
        elements = toWrite;
        return true;
    }

    icfg::ElementList toWrite;
    icfg::ElementList received;
};

} // namespace testsupport

#endif
