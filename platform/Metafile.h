// A recorded page: drawing done through a canvas is kept as a list of
// drawing commands (pictures stay pictures, text stays text) that can be
// played back stretched into any rectangle, on the screen or on a printer,
// without resampling what was drawn.
//
// The canvas uses the screen as reference device: one unit is one screen
// pixel and fonts given in points are measured at the screen's pixels per
// inch.  Files are written and read in Qt's picture format.
#pragma once

#include <QPainter>
#include <QRectF>
#include <QString>

#include <memory>
#include <stdexcept>

class QPicture;

namespace platform {

// A picture file that is not in Qt's picture format, or a damaged one.
class MetafileError : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

class Metafile {
public:
    // An empty page of |width| x |height| units (each at least 1).
    Metafile(int width, int height);
    ~Metafile();
    Metafile(Metafile &&) noexcept;
    Metafile &operator=(Metafile &&) noexcept;
    Metafile(const Metafile &) = delete;
    Metafile &operator=(const Metafile &) = delete;

    int width() const;
    int height() const;
    // Number of recorded commands (state changes and drawings).
    int commandCount() const;

    // Plays the page back stretched into |target| of |painter| (width and
    // height scaled independently), clipped to |target|.  The painter's
    // state is restored afterwards.
    void play(QPainter &painter, const QRectF &target) const;

    // Writes the page in Qt's picture format; the file is replaced
    // atomically.  Throws FileAccessError.
    void saveToFile(const QString &path) const;
    // The page as a QPicture.
    QPicture toPicture() const;

    // Reads a file in Qt's picture format; the page takes the picture's
    // bounding rectangle.  Throws FileAccessError when the file cannot be
    // read and MetafileError when it is no such picture.
    static Metafile loadFromFile(const QString &path);
    // Records |picture|; throws MetafileError for a picture without extent.
    static Metafile fromPicture(const QPicture &picture);

    struct Data;

private:
    friend class MetafileCanvas;
    std::unique_ptr<Data> d;
};

// The recording canvas of a metafile: a painter whose drawing is added to
// the page.  Recording ends when the canvas is destroyed (or end() is
// called); the metafile must outlive it.
class MetafileCanvas : public QPainter {
public:
    explicit MetafileCanvas(Metafile &page);
    ~MetafileCanvas();
    MetafileCanvas(const MetafileCanvas &) = delete;
    MetafileCanvas &operator=(const MetafileCanvas &) = delete;

private:
    class Device;
    std::unique_ptr<Device> device_;
};

} // namespace platform
