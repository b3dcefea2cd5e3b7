#include "norbyflash.h"

#include "crc32.h"

#include <algorithm>
#include <cstring>

namespace vdev {

namespace {

enum Request : uint8_t {
    FpgaFlashStart = 0xC1,
    FpgaFlashWrite = 0xC2,
    FpgaFlashComplete = 0xC3,
    FpgaFlashStatus = 0xC4,
    Fx3FlashStart = 0xC5,
    Fx3FlashWrite = 0xC6,
    Fx3FlashComplete = 0xC7,
    Fx3FlashStatus = 0xC8,
    EdidIoBegin = 0xCF,
    EdidWrite = 0xD2,
    EdidIoEnd = 0xD4,
};

// The largest piece the device's flash buffer takes in one request.
constexpr uint16_t kMaxPiece = 4096;
constexpr size_t kEdidBlock = 128;
constexpr size_t kFpgaHeaderSize = 12;
constexpr size_t kFpgaTrailerSize = 4;
constexpr uint8_t kReady = 1;
constexpr uint8_t kBusy = 0;

uint32_t readLe32(const uint8_t *p)
{
    return uint32_t(p[0]) | uint32_t(p[1]) << 8 | uint32_t(p[2]) << 16 | uint32_t(p[3]) << 24;
}

} // namespace

std::optional<int> NorbyFlash::handle(const ControlSetup &setup, uint8_t *data)
{
    if (setup.deviceToHost()) {
        if (setup.request == Fx3FlashStatus || setup.request == FpgaFlashStatus)
            return status(setup, data);
        return std::nullopt;
    }

    switch (setup.request) {
    case Fx3FlashStart:
        fx3Run_.emplace();
        becomeBusy();
        return 0;
    case Fx3FlashWrite:
        // The microcode is flashed in 32-bit words.
        if (!fx3Run_ || setup.length == 0 || setup.length > kMaxPiece || setup.length % 4 != 0)
            return Pipe;
        program(fx3Run_->size(), setup.length);
        fx3Run_->insert(fx3Run_->end(), data, data + setup.length);
        becomeBusy();
        return setup.length;
    case Fx3FlashComplete:
        if (!fx3Run_)
            return Pipe;
        fx3Flash_ = std::move(*fx3Run_);
        fx3Run_.reset();
        ++fx3Commits_;
        return 0;
    case FpgaFlashStart:
        // Not emplace(): clang, asked inside NorbyFlash, finds FpgaRun (with its member
        // initialisers) not default-constructible and refuses the call.
        fpgaRun_ = FpgaRun();
        becomeBusy();
        return 0;
    case FpgaFlashWrite:
        return fpgaPiece(data, setup.length);
    case FpgaFlashComplete: {
        if (!fpgaRun_)
            return Pipe;
        const bool complete
            = fpgaFormat_ == FpgaFormat::Plain || (fpgaRun_->headerSeen && fpgaRun_->trailerSeen);
        if (!complete) {
            fpgaRun_.reset();
            return Pipe;
        }
        fpgaFlash_ = std::move(fpgaRun_->image);
        fpgaRun_.reset();
        ++fpgaCommits_;
        return 0;
    }
    case EdidIoBegin:
        edidPending_.emplace();
        return 0;
    case EdidWrite:
        if (!edidPending_ || setup.length == 0 || setup.length % kEdidBlock != 0)
            return Pipe;
        edidPending_->assign(data, data + setup.length);
        return setup.length;
    case EdidIoEnd:
        if (!edidPending_)
            return Pipe;
        if (!edidPending_->empty()) {
            edid_ = std::move(*edidPending_);
            ++edidCommits_;
        }
        edidPending_.reset();
        return 0;
    default:
        return std::nullopt;
    }
}

int NorbyFlash::status(const ControlSetup &setup, uint8_t *data)
{
    if (emptyStatus_ || setup.length == 0)
        return 0;
    const auto now = std::chrono::steady_clock::now();
    if (now < busyUntil_) {
        answerTime_ = std::min(timing_.busyStatusAnswer,
            std::chrono::duration_cast<std::chrono::microseconds>(busyUntil_ - now));
        data[0] = kBusy;
        return 1;
    }
    if (busyLeft_ != 0) {
        if (busyLeft_ > 0)
            --busyLeft_;
        data[0] = kBusy;
        return 1;
    }
    data[0] = kReady;
    return 1;
}

int NorbyFlash::fpgaPiece(const uint8_t *data, uint16_t length)
{
    if (!fpgaRun_ || length == 0 || length > kMaxPiece)
        return Pipe;
    FpgaRun &run = *fpgaRun_;

    if (fpgaFormat_ == FpgaFormat::Plain) {
        program(run.image.size(), length);
        run.image.insert(run.image.end(), data, data + length);
        becomeBusy();
        return length;
    }

    if (!run.headerSeen) {
        if (length != kFpgaHeaderSize || std::memcmp(data, "FPGA", 4) != 0
            || readLe32(data + 8) != crc32Update(0, data, 8))
            return Pipe;
        run.announcedSize = readLe32(data + 4);
        run.headerSeen = true;
    } else if (run.image.size() < run.announcedSize) {
        if (run.image.size() + length > run.announcedSize)
            return Pipe;
        program(run.image.size(), length);
        run.image.insert(run.image.end(), data, data + length);
    } else if (!run.trailerSeen) {
        if (length != kFpgaTrailerSize
            || readLe32(data) != crc32Update(0, run.image.data(), run.image.size()))
            return Pipe;
        run.trailerSeen = true;
    } else {
        return Pipe;
    }
    becomeBusy();
    return length;
}

void NorbyFlash::becomeBusy()
{
    busyLeft_ = busyPolls_;
}

void NorbyFlash::program(std::size_t offset, std::size_t length)
{
    if (timing_.sectorErase.count() == 0 && timing_.pageProgram.count() == 0)
        return;
    // The sectors whose first byte this piece holds are erased first.
    const std::size_t sector = timing_.sectorBytes;
    const std::size_t erased
        = (offset + length + sector - 1) / sector - (offset + sector - 1) / sector;
    const std::size_t pages = (length + timing_.pageBytes - 1) / timing_.pageBytes;
    busyUntil_ = std::max(busyUntil_, std::chrono::steady_clock::now())
        + timing_.sectorErase * long(erased) + timing_.pageProgram * long(pages);
}

} // namespace vdev
