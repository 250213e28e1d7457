#ifndef IAPP_KAVREL_FPGA_OBJECT_H
#define IAPP_KAVREL_FPGA_OBJECT_H

// The base of every component over a window of a board's FPGA registers (identification block,
// bus-controller components, LVDS blocks, timing blocks). It is a feature, so boards take it as
// a child, and it finds the board it belongs to. The window and its word layout are the derived
// class's: see KavrelBoard::RegisterObject for what such a class provides.

#include <string>

#include "iapp/iapp_export.h"
#include "iapp/kavrel_feature.h"

namespace iapp {

class KavrelBoard;

class IAPP_API KavrelFpgaObject : public KavrelFeature {
public:
    KavrelFpgaObject(KavrelObject& parent, std::string name);
    ~KavrelFpgaObject() override;

    // The nearest board among the ancestors (the object itself not counted), never null;
    // istd::Exception "iapp: <name> doesn't belong to a board (yet)." when there is none, also
    // when a parent is already gone.
    KavrelBoard* GetParentBoard() const;
};

} // namespace iapp

#endif
