#include "app/PreviewPictures.h"

#include "base/Handles.h"

#include <algorithm>

namespace preview {

RECT FitPicture(int pictureWidth, int pictureHeight, int panelWidth, int panelHeight) {
    const double picture = static_cast<double>(pictureWidth) / pictureHeight;
    const double panel = static_cast<double>(panelWidth) / panelHeight;
    if (picture > panel) {
        const int h = static_cast<int>(panelWidth / picture);
        const int y = (panelHeight - h) / 2;
        return {0, y, panelWidth, y + h};
    }
    if (picture < panel) {
        const int w = static_cast<int>(panelHeight * picture);
        const int x = (panelWidth - w) / 2;
        return {x, 0, x + w, panelHeight};
    }
    return {0, 0, panelWidth, panelHeight};
}

bool StampOf(const std::wstring& path, FileStamp& out) {
    WIN32_FILE_ATTRIBUTE_DATA data = {};
    if (!::GetFileAttributesExW(path.c_str(), GetFileExInfoStandard, &data)) return false;
    out.size = (uint64_t{data.nFileSizeHigh} << 32) | data.nFileSizeLow;
    out.written =
        (uint64_t{data.ftLastWriteTime.dwHighDateTime} << 32) | data.ftLastWriteTime.dwLowDateTime;
    return true;
}

namespace {

// The size the picture is fitted by: the file's own where the decode came reduced (its pixels
// then stand for the whole picture at a smaller scale), else the pixels'.
SIZE ShapeOf(const CxImage& decoded) {
    if (decoded.GetWidth() < decoded.GetImageWidth() &&
        decoded.GetHeight() < decoded.GetImageHeight()) {
        return {static_cast<LONG>(decoded.GetImageWidth()),
                static_cast<LONG>(decoded.GetImageHeight())};
    }
    return {static_cast<LONG>(decoded.GetWidth()), static_cast<LONG>(decoded.GetHeight())};
}

bool Covers(const CxImage& decoded, SIZE panel) {
    const SIZE shape = ShapeOf(decoded);
    const RECT place = FitPicture(shape.cx, shape.cy, panel.cx, panel.cy);
    // A whole decode covers any panel: enlarging it is all there is.
    if (decoded.GetWidth() == static_cast<uint32_t>(shape.cx)) return true;
    return decoded.GetWidth() >= static_cast<uint32_t>(place.right - place.left) &&
           decoded.GetHeight() >= static_cast<uint32_t>(place.bottom - place.top);
}

}  // namespace

bool Fit(CxImage& decoded, SIZE panel, FittedPicture& out) {
    if (!decoded.IsValid() || panel.cx <= 0 || panel.cy <= 0) return false;
    const SIZE shape = ShapeOf(decoded);
    out.place = FitPicture(shape.cx, shape.cy, panel.cx, panel.cy);
    out.panel = panel;
    const long width = out.place.right - out.place.left;
    const long height = out.place.bottom - out.place.top;
    if (width <= 0 || height <= 0) return false;
    // At the picture's own size this copies the pixels as they are.
    return decoded.Resample(width, height, 1, &out.pixels);
}

std::unique_ptr<CxImage> DecodeForPanel(const std::wstring& path, uint32_t type, SIZE panel) {
    const FitBox box{static_cast<uint32_t>(std::max<LONG>(panel.cx, 0)),
                     static_cast<uint32_t>(std::max<LONG>(panel.cy, 0))};
    return std::make_unique<CxImage>(path.c_str(), type, box);
}

bool PanelPicture::Load(const std::wstring& path, uint32_t type, SIZE panel, std::string& error) {
    Clear();
    std::unique_ptr<CxImage> decoded = DecodeForPanel(path, type, panel);
    if (!decoded->IsValid()) {
        error = decoded->GetLastError();
        return false;
    }
    path_ = path;
    type_ = type;
    decoded_ = std::move(decoded);
    FittedPicture fitted;
    // An empty panel (a minimised window) is fitted at the first paint.
    if (Fit(*decoded_, panel, fitted))
        fitted_ = std::move(fitted);
    else
        fitted_.emplace();
    return true;
}

void PanelPicture::Adopt(const std::wstring& path, uint32_t type, FittedPicture picture) {
    Clear();
    path_ = path;
    type_ = type;
    fitted_ = std::move(picture);
}

std::optional<FittedPicture> PanelPicture::Release() {
    std::optional<FittedPicture> shown = std::move(fitted_);
    Clear();
    return shown;
}

void PanelPicture::Clear() {
    path_.clear();
    type_ = 0;
    decoded_.reset();
    fitted_.reset();
}

const FittedPicture* PanelPicture::For(SIZE panel) {
    if (!fitted_) return nullptr;
    if (fitted_->panel.cx == panel.cx && fitted_->panel.cy == panel.cy) return &*fitted_;
    if (panel.cx <= 0 || panel.cy <= 0) return nullptr;
    if (!decoded_ || !Covers(*decoded_, panel)) {
        std::unique_ptr<CxImage> decoded = DecodeForPanel(path_, type_, panel);
        // A file gone since keeps showing what it showed, refitted.
        if (decoded->IsValid()) decoded_ = std::move(decoded);
    }
    FittedPicture fitted;
    CxImage& source = decoded_ ? *decoded_ : fitted_->pixels;
    if (!Fit(source, panel, fitted)) return nullptr;
    fitted_ = std::move(fitted);
    return &*fitted_;
}

NeighbourPreparer::~NeighbourPreparer() {
    {
        std::lock_guard lock(mutex_);
        ending_ = true;
    }
    changed_.notify_all();
    if (thread_.joinable()) thread_.join();
}

std::shared_ptr<NeighbourPreparer::Slot> NeighbourPreparer::Find(const Job& job) const {
    for (const auto& slot : slots_) {
        if (slot->job == job) return slot;
    }
    return nullptr;
}

void NeighbourPreparer::Want(const std::vector<Job>& jobs) {
    {
        std::lock_guard lock(mutex_);
        std::vector<std::shared_ptr<Slot>> wanted;
        for (const Job& job : jobs) {
            std::shared_ptr<Slot> slot = Find(job);
            wanted.push_back(slot ? slot : std::make_shared<Slot>(job));
        }
        slots_ = std::move(wanted);
        if (!thread_.joinable() && !slots_.empty()) thread_ = std::thread([this] { Run(); });
    }
    changed_.notify_all();
}

void NeighbourPreparer::Offer(const Job& job, FittedPicture picture) {
    FileStamp stamp;
    if (!StampOf(job.path, stamp)) return;
    std::lock_guard lock(mutex_);
    std::shared_ptr<Slot> slot = Find(job);
    if (!slot) {
        slot = std::make_shared<Slot>(job);
        slots_.push_back(slot);
    } else if (slot->state == State::Making) {
        return;
    }
    slot->state = State::Ready;
    slot->stamp = stamp;
    slot->picture = std::move(picture);
}

bool NeighbourPreparer::Take(const Job& job, FittedPicture& out) {
    std::unique_lock lock(mutex_);
    std::shared_ptr<Slot> slot = Find(job);
    if (!slot) return false;
    changed_.wait(lock, [&] { return slot->state != State::Making; });
    std::erase(slots_, slot);
    if (slot->state != State::Ready) return false;
    lock.unlock();
    FileStamp now;
    if (!StampOf(job.path, now) || !(now == slot->stamp)) return false;
    out = std::move(*slot->picture);
    return true;
}

void NeighbourPreparer::WaitIdle() {
    std::unique_lock lock(mutex_);
    changed_.wait(lock, [&] {
        return making_ == 0 && std::none_of(slots_.begin(), slots_.end(), [](const auto& slot) {
                   return slot->state == State::Queued;
               });
    });
}

size_t NeighbourPreparer::HeldBytes() {
    std::lock_guard lock(mutex_);
    size_t bytes = 0;
    for (const auto& slot : slots_) {
        if (slot->picture) bytes += slot->picture->pixels.GetSize();
    }
    return bytes;
}

void NeighbourPreparer::Run() {
    win::ComScope com(COINIT_MULTITHREADED);
    std::unique_lock lock(mutex_);
    for (;;) {
        std::shared_ptr<Slot> slot;
        changed_.wait(lock, [&] {
            if (ending_) return true;
            for (const auto& candidate : slots_) {
                if (candidate->state == State::Queued) {
                    slot = candidate;
                    return true;
                }
            }
            return false;
        });
        if (ending_) return;
        slot->state = State::Making;
        ++making_;
        const Job job = slot->job;
        lock.unlock();

        // The stamp is read before the decode: a file rewritten meanwhile then fails the
        // comparison in Take instead of passing with the old picture.
        FileStamp stamp;
        FittedPicture picture;
        bool made = false;
        if (StampOf(job.path, stamp)) {
            const std::unique_ptr<CxImage> decoded = DecodeForPanel(job.path, job.type, job.panel);
            made = Fit(*decoded, job.panel, picture);
        }

        lock.lock();
        --making_;
        slot->state = made ? State::Ready : State::Failed;
        slot->stamp = stamp;
        if (made) slot->picture = std::move(picture);
        changed_.notify_all();
    }
}

}  // namespace preview
