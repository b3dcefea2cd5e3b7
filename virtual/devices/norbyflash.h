#pragma once

#include "usbmodel.h"

#include <chrono>
#include <cstdint>
#include <optional>
#include <utility>
#include <vector>

namespace vdev {

// The flashing side of the device, answered by the application firmware and by the sandbox
// microcode: the FX3 microcode run (0xC5 start, 0xC6 chunk, 0xC7 complete, 0xC8 status), the
// FPGA run (0xC1, 0xC2, 0xC3, status 0xC4) and the EDID access (0xCF, 0xD2, 0xD4). The 0xC8
// status doubles as the liveness ping of every running device.
//
// A run collects what the host streams and commits it to flash on its completion request, so
// tests compare the flash with the package members byte for byte, and a run that never
// completes leaves the old flash contents.
class NorbyFlash
{
public:
    enum class FpgaFormat {
        // The FPGA loader expects a 12-byte header ("FPGA", size, CRC-32 of those 8 bytes),
        // then the image, then the CRC-32 of the image; it stalls a piece that breaks this.
        Framed,
        // The pieces are the image and nothing else.
        Plain,
    };

    // The answer to a flashing request, or nothing when `setup` is not one.
    std::optional<int> handle(const ControlSetup &setup, uint8_t *data);

    void setFpgaFormat(FpgaFormat format) { fpgaFormat_ = format; }
    FpgaFormat fpgaFormat() const { return fpgaFormat_; }
    // After every accepted start or piece, the status reads busy (0) this many times; -1:
    // busy for ever.
    void setBusyPolls(int polls) { busyPolls_ = polls; }
    // A status request that succeeds without data (the status byte is not written).
    void setEmptyStatus(bool empty) { emptyStatus_ = empty; }

    // Busy in time as well: a serial flash erases a sector before it first programs into it
    // and programs a page at a time, and the status reads busy until it is done. All zero (the
    // default): only the busy polls count. For benchmarks, where an update has to take about
    // as long as on a real device.
    struct Timing {
        std::chrono::microseconds sectorErase {0};
        std::chrono::microseconds pageProgram {0};
        // A status request answered while the flash works.
        std::chrono::microseconds busyStatusAnswer {0};
        uint32_t sectorBytes = 64 * 1024;
        uint32_t pageBytes = 256;
    };
    void setTiming(const Timing &timing) { timing_ = timing; }
    // See UsbDeviceModel::takeAnswerTime.
    std::chrono::microseconds takeAnswerTime() { return std::exchange(answerTime_, {}); }

    // Flash contents saved by an earlier run of a long-lived virtual device.
    void restore(std::vector<uint8_t> fx3, std::vector<uint8_t> fpga, std::vector<uint8_t> edid)
    {
        fx3Flash_ = std::move(fx3);
        fpgaFlash_ = std::move(fpga);
        edid_ = std::move(edid);
    }

    const std::vector<uint8_t> &fx3Flash() const { return fx3Flash_; }
    const std::vector<uint8_t> &fpgaFlash() const { return fpgaFlash_; }
    const std::vector<uint8_t> &edid() const { return edid_; }
    // Completed runs, for tests that check nothing was committed.
    int fx3Commits() const { return fx3Commits_; }
    int fpgaCommits() const { return fpgaCommits_; }
    int edidCommits() const { return edidCommits_; }
    bool fx3RunOpen() const { return fx3Run_.has_value(); }
    bool fpgaRunOpen() const { return fpgaRun_.has_value(); }
    bool edidAccessOpen() const { return edidPending_.has_value(); }

private:
    struct FpgaRun {
        std::vector<uint8_t> image;
        bool headerSeen = false;
        uint32_t announcedSize = 0;
        bool trailerSeen = false;
    };

    int status(const ControlSetup &setup, uint8_t *data);
    int fpgaPiece(const uint8_t *data, uint16_t length);
    void becomeBusy();
    // Bytes `offset`..`offset + length` of a run's image go to the flash (Timing).
    void program(std::size_t offset, std::size_t length);

    FpgaFormat fpgaFormat_ = FpgaFormat::Framed;
    int busyPolls_ = 0;
    int busyLeft_ = 0;
    bool emptyStatus_ = false;
    Timing timing_;
    std::chrono::steady_clock::time_point busyUntil_;
    std::chrono::microseconds answerTime_ {0};

    std::optional<std::vector<uint8_t>> fx3Run_;
    std::optional<FpgaRun> fpgaRun_;
    std::optional<std::vector<uint8_t>> edidPending_;

    std::vector<uint8_t> fx3Flash_;
    std::vector<uint8_t> fpgaFlash_;
    std::vector<uint8_t> edid_;
    int fx3Commits_ = 0;
    int fpgaCommits_ = 0;
    int edidCommits_ = 0;
};

} // namespace vdev
