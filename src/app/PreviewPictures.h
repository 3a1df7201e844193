#pragma once
// The preview panel's pictures. The selected file is decoded at the scale the panel needs and
// fitted to the panel once; the fitted pixels are kept between paints and painted one to one.
// The files beside the selection are prepared the same way on a thread of their own, so that
// Next and Prev find them ready.
//
// A prepared picture is handed out only for the same file, unchanged since (size and
// last-write time), the same type hint and the same panel size, so a picture never shows
// under another file's name.

#include "base/Win.h"
#include "imagelib/CxImage.h"

#include <condition_variable>
#include <cstdint>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <vector>

namespace preview {

// The rectangle a panel of panelWidth x panelHeight shows a picture of pictureWidth x
// pictureHeight in: proportions kept, touching the panel on one axis (the other cut to whole
// pixels) and centred on the other.
RECT FitPicture(int pictureWidth, int pictureHeight, int panelWidth, int panelHeight);

// What tells one content of a file from another.
struct FileStamp {
    uint64_t size = 0;
    uint64_t written = 0;  // last-write time as a FILETIME
    bool operator==(const FileStamp&) const = default;
};
// False when the file's attributes cannot be read.
bool StampOf(const std::wstring& path, FileStamp& out);

// A picture fitted to a panel: `pixels` are painted one to one at `place`. They carry the
// file's own facts (GetImageWidth and the rest).
struct FittedPicture {
    CxImage pixels;
    RECT place{};
    SIZE panel{};
};

// Fits a decoded picture to a panel. False when the panel is empty or the picture cannot be
// scaled.
bool Fit(CxImage& decoded, SIZE panel, FittedPicture& out);

// Decodes a file for a panel of `panel`: no larger than the fitted picture needs where the
// format allows. The result may hold no pixels; GetLastError then says why.
std::unique_ptr<CxImage> DecodeForPanel(const std::wstring& path, uint32_t type, SIZE panel);

// What the panel shows now: the decoded picture and its fitting to the panel's present size.
class PanelPicture {
public:
    // Decodes `path`; false, with `error` set and nothing shown, when it cannot be decoded.
    bool Load(const std::wstring& path, uint32_t type, SIZE panel, std::string& error);
    // Shows a picture prepared for `path`.
    void Adopt(const std::wstring& path, uint32_t type, FittedPicture picture);
    void Clear();
    // The picture as shown last, moved out; the panel is left empty.
    std::optional<FittedPicture> Release();

    bool Empty() const { return !fitted_; }
    // The picture fitted to `panel`, fitted anew (decoding the file again only when the
    // decoded pixels are too small for it) when the panel changed size. Null when empty.
    const FittedPicture* For(SIZE panel);
    // The picture as shown last; null when empty.
    const FittedPicture* Shown() const { return fitted_ ? &*fitted_ : nullptr; }
    const std::wstring& Path() const { return path_; }
    uint32_t Type() const { return type_; }

private:
    std::wstring path_;
    uint32_t type_ = 0;
    // Kept after a decode here so that a resize only refits; a prepared picture comes without.
    std::unique_ptr<CxImage> decoded_;
    std::optional<FittedPicture> fitted_;
};

// Prepares pictures on its own thread. Created on first use, it ends with the object; a
// decode in progress runs to its end first.
class NeighbourPreparer {
public:
    struct Job {
        std::wstring path;
        uint32_t type = 0;
        SIZE panel{};
        bool operator==(const Job& other) const {
            return path == other.path && type == other.type && panel.cx == other.panel.cx &&
                   panel.cy == other.panel.cy;
        }
    };

    NeighbourPreparer() = default;
    ~NeighbourPreparer();
    NeighbourPreparer(const NeighbourPreparer&) = delete;
    NeighbourPreparer& operator=(const NeighbourPreparer&) = delete;

    // The pictures to have ready, first first. Everything else held or queued is dropped.
    void Want(const std::vector<Job>& jobs);
    // Keeps a picture made elsewhere (the one the panel showed) while it is wanted.
    void Offer(const Job& job, FittedPicture picture);
    // The picture prepared for `job`, waiting while it is being made. False when there is
    // none ready, the file changed since, or it could not be decoded.
    bool Take(const Job& job, FittedPicture& out);

    // For tests and the benchmark: waits until nothing is queued or being made.
    void WaitIdle();
    // The bytes of pixels held by prepared pictures.
    size_t HeldBytes();

private:
    enum class State { Queued, Making, Ready, Failed };
    struct Slot {
        explicit Slot(Job wanted) : job(std::move(wanted)) {}
        Job job;
        State state = State::Queued;
        FileStamp stamp;
        std::optional<FittedPicture> picture;
    };

    void Run();
    // The wanted slot for `job`; null when there is none.
    std::shared_ptr<Slot> Find(const Job& job) const;

    std::mutex mutex_;
    std::condition_variable changed_;
    // Wanted slots, first first. The thread keeps its own reference to the slot it makes, so
    // a slot dropped meanwhile is simply forgotten when done.
    std::vector<std::shared_ptr<Slot>> slots_;
    int making_ = 0;
    bool ending_ = false;
    std::thread thread_;
};

}  // namespace preview
