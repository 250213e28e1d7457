#ifndef IAPP_KAVREL_BOARD_H
#define IAPP_KAVREL_BOARD_H

// The component of one board of the chassis. It borrows the board pool's bmc::Board, maps the
// board's FPGA register space on first demand, hands out byte windows of it, and creates the
// FPGA objects over those windows as its children:
//
//     class MyBoard : public iapp::KavrelBoard {
//     public:
//         MyBoard(iapp::KavrelApplication& app, const bmc::Board* board) : KavrelBoard(app, board)
//         {
//             m_rx = RegisterObject<iapp::KavrelLvdsReceiver>(0x800000, "lvds_rx");
//         }
//     };
//
// Every board tries to lay the identification block "info" over the first 24 bytes of its
// space when it is constructed; a board whose device cannot be mapped logs a warning and goes
// without it.
//
// An FPGA object class for RegisterObject has a static Size() (its window's byte size, not 0)
// and a constructor (KavrelBoard& board, volatile FPGAMem_t* window, const std::string& name,
// its own arguments...). Windows stay valid while the board keeps its mapping: until
// UnmapDevice() or the board's destruction, which destroys its children too.
//
// Boards are built and mapped on the start-up thread; windows are then read and written from
// any thread without a lock of the board's.

#include <sys/types.h>

#include <cstddef>
#include <cstdint>
#include <string>
#include <utility>

#include "bmc/board.h"
#include "bmc/board_device.h"
#include "iapp/iapp_export.h"
#include "iapp/kavrel_object.h"
#include "istd/exception.h"
#include "istd/trace.h"

class IdentificationBlock;

namespace iapp {

class KavrelApplication;

// The byte type of FPGA memory; a window is a volatile FPGAMem_t*.
using FPGAMem_t = char;

class IAPP_API KavrelBoard : public KavrelObject {
public:
    // The component of board under the application (its parent), named by the board's short
    // name. A board the pool no longer holds (or none) is refused with istd::Exception
    // "Problem accessing board: ".
    KavrelBoard(KavrelApplication& application, const bmc::Board* board);
    ~KavrelBoard() override;

    const bmc::Board* Board() const { return m_board; }
    KavrelApplication& GetApplication() { return m_application; }
    bmc::BoardType_e GetType() const;
    const bmc::Uri& Uri() const;
    // The identification block "info"; null when it could not be made.
    IdentificationBlock* GetIdentificationBlock() const { return m_identificationBlock; }

    // A window of size bytes at offset of the board's FPGA space, mapping the device on the
    // first call (MapDevice's exceptions pass on). Null, with a level-1 trace, when the device
    // is not opened or not mapped, or the window does not lie wholly inside the mapping (a
    // negative offset or size included); a window may end exactly at the end of the mapping.
    volatile FPGAMem_t* MapRegisters(ssize_t offset, ssize_t size);

    // Maps the object's window at offset and creates the object (board, window, name, args...)
    // as a child of this board. Throws istd::Exception "Invalid FPGA memory interface" for a
    // class whose Size() is 0 and "Failure while mapping to FPGA memory registers" when the
    // window is refused; the object's constructor and QueryChild pass theirs on.
    template <class FPGA_OBJ, class... A>
    FPGA_OBJ* RegisterObject(size_t offset, const std::string& name, A&&... args);

    // Forces posted writes to the FPGA to complete: reads the 64-bit word at addr back, upper
    // half first. A null addr does nothing.
    static void FlushRegisters(void volatile* addr);

    // Releases the mapping; a later MapRegisters maps the device again. Windows handed out
    // before become invalid.
    void UnmapDevice();

    // Boards accept features only (FPGA objects, bus controllers, features).
    bool OnQueryChild(const KavrelObject& child) override;

    // Hooks of the machine-time synchronisation: a synchronisation was announced; the board's
    // time was adjusted by offset to time. Empty here.
    virtual void OnAnnounceSync();
    virtual void OnAdjustedTimestamp(int64_t offset, uint64_t time);

    // How the board's device is mapped and released; by default through the bmc::Board. The
    // constructor's "info" maps through KavrelBoard's own MapDevice (a derived class is not yet
    // constructed then): an override rules the mappings after it, such as one after UnmapDevice().
    virtual void MapDevice(bmc::DeviceMapping_t& mapping) const;
    virtual void UnmapDevice(bmc::DeviceMapping_t& mapping) const;

private:
    static std::string _NameOf(const bmc::Board* board);

    KavrelApplication& m_application;
    const bmc::Board* m_board;
    bmc::DeviceMapping_t m_mapping;
    IdentificationBlock* m_identificationBlock = nullptr;
};

template <class FPGA_OBJ, class... A>
FPGA_OBJ* KavrelBoard::RegisterObject(size_t offset, const std::string& name, A&&... args)
{
    ISTD_TRACE_FNC(__PRETTY_FUNCTION__);
    const size_t size = FPGA_OBJ::Size();
    if (size == 0) {
        throw istd::Exception("Invalid FPGA memory interface", true);
    }
    // An offset or size beyond ssize_t arrives negative, and MapRegisters refuses it.
    volatile FPGAMem_t* window = MapRegisters(static_cast<ssize_t>(offset), static_cast<ssize_t>(size));
    if (window == nullptr) {
        throw istd::Exception("Failure while mapping to FPGA memory registers", true);
    }
    FPGA_OBJ* object = new FPGA_OBJ(*this, window, name, std::forward<A>(args)...);
    QueryChild(object);
    return object;
}

} // namespace iapp

#endif
