// Draws the module's pictures: the replay panel's button glyphs (play, pause, stop, step)
// in an enabled and a disabled form, as 16 x 16 24-bit bitmaps, and the module's icon,
// a log page with a record mark, as one 32 x 32 32-bit image.
//   MakePictures OUTPUT-DIR
// Writes Play.bmp, PlayDisabled.bmp, ... Step.bmp, StepDisabled.bmp and Logger.ico; the
// byte layouts are described in docs/FORMAT.md ("Pictures").
#include <cstdint>
#include <cstdio>
#include <fstream>
#include <functional>
#include <string>
#include <vector>

namespace {

struct Rgba {
    uint8_t r, g, b, a;
};

constexpr Rgba kFace{192, 192, 192, 255};    // button face
constexpr Rgba kInk{0, 0, 0, 255};           // glyph of an enabled button
constexpr Rgba kPlayInk{0, 128, 0, 255};     // the play triangle
constexpr Rgba kShade{128, 128, 128, 255};   // glyph of a disabled button
constexpr Rgba kHilite{255, 255, 255, 255};  // its embossed edge
constexpr Rgba kClear{0, 0, 0, 0};

class Image {
public:
    Image(int w, int h, Rgba fill) : m_w(w), m_h(h), m_px(static_cast<size_t>(w * h), fill) {}
    int Width() const { return m_w; }
    int Height() const { return m_h; }
    Rgba At(int x, int y) const { return m_px[static_cast<size_t>(y * m_w + x)]; }
    // Paints every pixel whose centre lies inside the shape.
    void Fill(const std::function<bool(double, double)>& inside, Rgba c, int dx = 0, int dy = 0)
    {
        for (int y = 0; y < m_h; ++y)
            for (int x = 0; x < m_w; ++x)
                if (inside(x - dx + 0.5, y - dy + 0.5)) m_px[static_cast<size_t>(y * m_w + x)] = c;
    }

private:
    int m_w, m_h;
    std::vector<Rgba> m_px;
};

using Shape = std::function<bool(double, double)>;

Shape Box(double x0, double y0, double x1, double y1)
{
    return [=](double x, double y) { return x >= x0 && x < x1 && y >= y0 && y < y1; };
}

// A triangle pointing right, with its tip at (tipX, midY).
Shape RightTriangle(double x0, double tipX, double y0, double y1)
{
    const double mid = (y0 + y1) / 2, half = (y1 - y0) / 2;
    return [=](double x, double y) {
        if (x < x0 || x >= tipX) return false;
        const double reach = half * (tipX - x) / (tipX - x0);
        return y >= mid - reach && y < mid + reach;
    };
}

Shape Either(Shape a, Shape b)
{
    return [=](double x, double y) { return a(x, y) || b(x, y); };
}

Shape Glyph(const std::string& name)
{
    if (name == "Play") return RightTriangle(5, 12, 3, 13);
    if (name == "Pause") return Either(Box(4, 3, 7, 13), Box(9, 3, 12, 13));
    if (name == "Stop") return Box(4, 4, 12, 12);
    return Either(RightTriangle(3, 10, 3, 13), Box(10, 3, 12, 13));  // Step
}

void Put16(std::vector<uint8_t>& out, uint32_t v)
{
    out.push_back(static_cast<uint8_t>(v));
    out.push_back(static_cast<uint8_t>(v >> 8));
}

void Put32(std::vector<uint8_t>& out, uint32_t v)
{
    Put16(out, v & 0xFFFF);
    Put16(out, v >> 16);
}

// The 40-byte information header; `height` is the height it states.
void PutInfoHeader(std::vector<uint8_t>& out, const Image& img, int height, int bits, uint32_t imageBytes)
{
    for (uint32_t v : {40u, static_cast<uint32_t>(img.Width()), static_cast<uint32_t>(height)}) Put32(out, v);
    Put16(out, 1);  // planes
    Put16(out, static_cast<uint32_t>(bits));
    for (uint32_t v : {0u, imageBytes, 0u, 0u, 0u, 0u}) Put32(out, v);  // no compression, no palette
}

std::vector<uint8_t> Bitmap(const Image& img)
{
    const uint32_t stride = (static_cast<uint32_t>(img.Width()) * 3 + 3) & ~3u;
    const uint32_t imageBytes = stride * static_cast<uint32_t>(img.Height());
    std::vector<uint8_t> out{'B', 'M'};
    Put32(out, 14 + 40 + imageBytes);
    Put32(out, 0);
    Put32(out, 14 + 40);
    PutInfoHeader(out, img, img.Height(), 24, imageBytes);
    for (int y = img.Height() - 1; y >= 0; --y) {
        const size_t start = out.size();
        for (int x = 0; x < img.Width(); ++x) {
            const Rgba p = img.At(x, y);
            out.insert(out.end(), {p.b, p.g, p.r});
        }
        out.resize(start + stride, 0);
    }
    return out;
}

std::vector<uint8_t> Icon(const Image& img)
{
    const uint32_t w = static_cast<uint32_t>(img.Width()), h = static_cast<uint32_t>(img.Height());
    const uint32_t maskStride = ((w + 31) / 32) * 4;
    const uint32_t imageBytes = 40 + w * h * 4 + maskStride * h;
    std::vector<uint8_t> out;
    for (uint32_t v : {0u, 1u, 1u}) Put16(out, v);  // reserved, type icon, one image
    out.insert(out.end(), {static_cast<uint8_t>(w), static_cast<uint8_t>(h), 0, 0});
    Put16(out, 1);   // planes
    Put16(out, 32);  // bits per pixel
    Put32(out, imageBytes);
    Put32(out, 6 + 16);
    PutInfoHeader(out, img, img.Height() * 2, 32, w * h * 4 + maskStride * h);
    for (int y = img.Height() - 1; y >= 0; --y)
        for (int x = 0; x < img.Width(); ++x) {
            const Rgba p = img.At(x, y);
            out.insert(out.end(), {p.b, p.g, p.r, p.a});
        }
    for (int y = img.Height() - 1; y >= 0; --y) {  // the mask: 1 = transparent
        std::vector<uint8_t> row(maskStride, 0);
        for (int x = 0; x < img.Width(); ++x)
            if (img.At(x, y).a == 0) row[static_cast<size_t>(x / 8)] |= static_cast<uint8_t>(0x80 >> (x % 8));
        out.insert(out.end(), row.begin(), row.end());
    }
    return out;
}

Image Button(const std::string& name, bool enabled)
{
    Image img(16, 16, kFace);
    const Shape glyph = Glyph(name);
    if (enabled) {
        img.Fill(glyph, name == "Play" ? kPlayInk : kInk);
    } else {  // the classic disabled look: a white copy one pixel down-right under a grey one
        img.Fill(glyph, kHilite, 1, 1);
        img.Fill(glyph, kShade);
    }
    return img;
}

Image LoggerIcon()
{
    Image img(32, 32, kClear);
    img.Fill(Box(5, 2, 23, 30), kInk);     // the page's outline
    img.Fill(Box(6, 3, 22, 29), kHilite);  // the page
    for (int line = 0; line < 5; ++line)   // lines of text
        img.Fill(Box(8, 6 + 4 * line, 20, 7 + 4 * line), kShade);
    img.Fill([](double x, double y) { return (x - 23) * (x - 23) + (y - 23) * (y - 23) < 49; }, kInk);
    img.Fill([](double x, double y) { return (x - 23) * (x - 23) + (y - 23) * (y - 23) < 30; }, {220, 0, 0, 255});
    return img;
}

bool Write(const std::string& path, const std::vector<uint8_t>& bytes)
{
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out.write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
    out.close();
    if (!out) std::fprintf(stderr, "MakePictures: cannot write %s\n", path.c_str());
    return static_cast<bool>(out);
}

}  // namespace

int main(int argc, char** argv)
{
    if (argc != 2) {
        std::fprintf(stderr, "usage: MakePictures OUTPUT-DIR\n");
        return 2;
    }
    const std::string dir = argv[1];
    bool ok = Write(dir + "/Logger.ico", Icon(LoggerIcon()));
    for (const char* name : {"Play", "Pause", "Stop", "Step"}) {
        ok = Write(dir + "/" + name + ".bmp", Bitmap(Button(name, /*enabled=*/true))) && ok;
        ok = Write(dir + "/" + name + "Disabled.bmp", Bitmap(Button(name, /*enabled=*/false))) && ok;
    }
    return ok ? 0 : 1;
}
