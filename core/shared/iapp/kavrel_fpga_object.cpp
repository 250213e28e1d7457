#include "iapp/kavrel_fpga_object.h"

#include "iapp/kavrel_board.h"
#include "istd/exception.h"
#include "istd/trace.h"

namespace iapp {

KavrelFpgaObject::KavrelFpgaObject(KavrelObject& parent, std::string name) : KavrelFeature(parent, name) {}

KavrelFpgaObject::~KavrelFpgaObject()
{
    ISTD_TRACE(4, "Destroying " << GetName() << " KavrelFpgaObject");
}

KavrelBoard* KavrelFpgaObject::GetParentBoard() const
{
    ISTD_TRACE_FNC("iapp::KavrelBoard* iapp::KavrelFpgaObject::GetParentBoard() const");
    for (KavrelObjectPtr ancestor = GetParent(); ancestor; ancestor = ancestor->GetParent()) {
        if (auto* board = dynamic_cast<KavrelBoard*>(ancestor.get())) {
            return board;
        }
    }
    throw istd::Exception("iapp: " + GetName() + " doesn't belong to a board (yet).", true);
}

} // namespace iapp
