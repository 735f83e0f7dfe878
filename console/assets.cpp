// assets.cpp: the stylesheet and the icons.
#include "console/assets.h"

#include <cmath>
#include <functional>
#include <map>
#include <vector>

#include "console/png.h"

namespace kel::console {
namespace {

constexpr char kStylesheet[] = R"css(:root {
  --kc-accent: #1f6fb2;
  --kc-accent-dark: #17548a;
  --kc-bar: #17324d;
  --kc-page: #f3f5f8;
  --kc-text: #1c2733;
  --kc-muted: #5a6876;
  --kc-line: #d6dde4;
  --kc-stripe: #f0f4f8;
  --kc-hover: #e2edf8;
  --kc-nav-width: 15.5rem;
  --kc-bar-height: 3.25rem;
}
* { box-sizing: border-box; }
html {
  background: var(--kc-page);
  color: var(--kc-text);
  font: 15px/1.45 system-ui, -apple-system, "Segoe UI", Roboto, "Noto Sans", "Liberation Sans", Arial, sans-serif;
}
body {
  margin: 0;
  padding: calc(var(--kc-bar-height) + 1.5rem) 1.5rem 3rem calc(var(--kc-nav-width) + 1.75rem);
  min-height: 100vh;
}
a { color: var(--kc-accent); }
a:hover { color: var(--kc-accent-dark); }
img { vertical-align: middle; border: 0; }

.kc-bar {
  position: fixed; top: 0; left: 0; right: 0; z-index: 10;
  height: var(--kc-bar-height);
  display: flex; align-items: center; justify-content: space-between;
  padding: 0 1.25rem;
  background: var(--kc-bar); color: #fff;
  box-shadow: 0 1px 4px rgba(0, 0, 0, .25);
}
.kc-product {
  display: flex; align-items: center; gap: .6rem;
  color: #fff; font-size: 1.1rem; font-weight: 600; text-decoration: none; letter-spacing: .01em;
}
.kc-product:hover { color: #fff; }
.kc-account { display: flex; align-items: center; gap: .9rem; }
.kc-account form { margin: 0; }
.kc-user { color: #d4e2f0; }
.kc-user::before { content: "\25CF"; color: #5cc27a; margin-right: .4rem; font-size: .7em; vertical-align: .15em; }
button.kc-logout {
  background: transparent; border: 1px solid rgba(255, 255, 255, .45); color: #fff;
  padding: .25rem .8rem;
}
button.kc-logout:hover { background: rgba(255, 255, 255, .12); }

.kc-nav {
  position: fixed; top: var(--kc-bar-height); left: 0; bottom: 0;
  width: var(--kc-nav-width); overflow-y: auto;
  background: #fff; border-right: 1px solid var(--kc-line);
  padding: 1rem 0 2rem;
}
.kc-nav section { margin-top: .75rem; }
.kc-nav h2 {
  margin: .5rem 1.25rem .35rem; color: var(--kc-muted);
  font-size: .75rem; font-weight: 600; text-transform: uppercase; letter-spacing: .06em;
}
.kc-nav ul { list-style: none; margin: 0; padding: 0; }
.kc-nav a {
  display: block; padding: .45rem 1.25rem .45rem calc(1.25rem - 3px);
  border-left: 3px solid transparent; color: var(--kc-text); text-decoration: none;
}
.kc-nav a:hover { background: var(--kc-stripe); }
.kc-nav a[aria-current="page"] {
  border-left-color: var(--kc-accent); background: var(--kc-hover);
  color: var(--kc-accent-dark); font-weight: 600;
}

.kc-title {
  display: flex; align-items: baseline; justify-content: space-between; gap: 1rem;
  margin: 0 0 1rem; border-bottom: 1px solid var(--kc-line);
}
.kc-title h1 { margin: 0 0 .5rem; font-size: 1.45rem; font-weight: 600; }
.kc-help {
  flex: none; padding: .15rem .7rem; border: 1px solid var(--kc-accent); border-radius: 1rem;
  font-size: .85rem; text-decoration: none;
}
.kc-help::before { content: "?"; font-weight: 700; margin-right: .35rem; }
.kc-help:hover { background: var(--kc-hover); }
.kc-section { margin: 0 0 1rem; color: var(--kc-muted); }
.kc-card {
  max-width: 40rem; margin: 0 0 1rem; padding: 1rem 1.25rem;
  background: #fff; border: 1px solid var(--kc-line); border-radius: 6px;
}
.kc-card h2 { margin: 0 0 .5rem; font-size: 1.05rem; }
.kc-card ul { margin: 0; padding-left: 1.2rem; }
.kc-card li { margin: .25rem 0; }
.kc-empty, .kc-status { color: var(--kc-muted); }

table { border-collapse: collapse; }
td, th { padding: .35rem .65rem; vertical-align: middle; text-align: left; }
td[align="center"], th[align="center"] { text-align: center; }
td[align="right"], th[align="right"] { text-align: right; }
tr.tablehead > td, tr.tablehead > th {
  padding: .55rem .75rem; background: var(--kc-accent); color: #fff; font-weight: 600;
}
tr.tablehead a { color: #fff; }
tr.tablesubhead > td, tr.tablesubhead > th {
  background: #dfe7ef; color: var(--kc-text); font-weight: 600;
  border-bottom: 1px solid #c3ced9;
}
tr.tablesubhead a { text-decoration: none; margin-left: .25rem; }
/* Every cell of a list row, the plain ones (check boxes) too, gets the row's line. */
.tablecol, tr.stripe-light > td, tr.stripe-dark > td { border-bottom: 1px solid #e3e8ed; }
/* Numbers, dates and types stay on one line; names and paths wrap. A path wraps where a line may
   break and inside a word only when that word alone is wider than the page, so that the table
   does not squeeze its column; a name link may break anywhere, but its column keeps 20rem. */
td.tablecol[align="right"], td.tablecol[align="center"] { white-space: nowrap; }
td.tablecol[align="left"] { overflow-wrap: break-word; }
td.tablecol[align="left"]:has(> a) { overflow-wrap: anywhere; min-width: 20rem; }
tr.stripe-light { background: #fff; }
tr.stripe-dark { background: var(--kc-stripe); }
tr.stripe-light:hover, tr.stripe-dark:hover { background: var(--kc-hover); }
table:has(> tbody > tr.tablehead), table:has(> tr.tablehead) {
  background: #fff; box-shadow: 0 0 0 1px var(--kc-line), 0 1px 3px rgba(0, 0, 0, .06);
}
dl, dd { margin: 0; }
dt { margin: .75rem 0 .25rem; }
form { margin: 0 0 .5rem; }
p { margin: 0 0 1rem; }

input, select, textarea, button { font: inherit; }
input[type="text"], input[type="password"], select, textarea {
  padding: .3rem .5rem; border: 1px solid #b6c1cc; border-radius: 4px; background: #fff; color: inherit;
}
/* Pages size their controls in pixels; a choice such as "Select a volume" must still fit. */
input[type="text"], select { min-width: 12rem; }
input[type="text"]:focus, input[type="password"]:focus, select:focus, textarea:focus {
  outline: 2px solid var(--kc-accent); outline-offset: 0; border-color: var(--kc-accent);
}
input[type="submit"], input[type="button"], input[type="reset"], button {
  padding: .32rem .95rem; margin: .15rem .25rem .15rem 0; cursor: pointer;
  border: 1px solid var(--kc-accent-dark); border-radius: 4px;
  background: var(--kc-accent); color: #fff;
}
input[type="submit"]:hover, input[type="button"]:hover, input[type="reset"]:hover, button:hover {
  background: var(--kc-accent-dark);
}
input[type="checkbox"] { width: 1rem; height: 1rem; accent-color: var(--kc-accent); }
label { margin-right: .35rem; }

.kc-login-page {
  display: flex; align-items: center; justify-content: center; padding: 2rem;
  background: linear-gradient(160deg, var(--kc-bar), #2b5b86);
}
.kc-login {
  width: 100%; max-width: 23rem; padding: 2rem 2rem 1.5rem;
  background: #fff; border-radius: 8px; box-shadow: 0 10px 30px rgba(0, 0, 0, .25);
}
.kc-login h1 { display: flex; align-items: center; gap: .6rem; margin: 0 0 .25rem; font-size: 1.35rem; }
.kc-login p { color: var(--kc-muted); }
.kc-login label { display: block; margin: .75rem 0 .3rem; font-weight: 600; }
.kc-login input[type="password"], .kc-login input:not([type]) { width: 100%; padding: .5rem .6rem; }
.kc-login button { width: 100%; margin: 1.25rem 0 0; padding: .55rem; font-weight: 600; }
.kc-error {
  padding: .5rem .75rem; border-left: 4px solid #c62f2f; background: #fdecec; color: #8a1f1f !important;
}

.kc-filter { display: flex; flex-wrap: wrap; align-items: flex-end; gap: .6rem 1rem; margin: 0 0 1rem; }
.kc-filter label { display: block; margin: 0 0 .25rem; font-weight: 600; }
.kc-filter input[type="date"], .kc-filter input[type="number"] {
  padding: .3rem .4rem; border: 1px solid var(--kc-line); border-radius: 4px;
}
.kc-filter input[type="number"] { width: 6rem; }
.kc-scroll { max-width: 100%; overflow-x: auto; }
.kc-records caption { text-align: left; font-weight: 600; padding: 0 0 .4rem; }
.kc-records th { border-bottom: 2px solid var(--kc-line); white-space: nowrap; }
.kc-records td { vertical-align: top; overflow-wrap: break-word; }
.kc-records td:first-child { white-space: nowrap; }
.kc-records ul { margin: 0; padding-left: 1rem; }
.kc-token { color: var(--kc-muted); font-size: .85em; }
.kc-pages { display: flex; flex-wrap: wrap; align-items: center; gap: 1rem; margin: 1rem 0; }

@media (max-width: 30rem) {
  .kc-filter > div { flex: 1 1 100%; }
  .kc-filter input { width: 100%; min-width: 0; }
  .kc-records thead { position: absolute; width: 1px; height: 1px; overflow: hidden; clip: rect(0 0 0 0); }
  .kc-records, .kc-records caption, .kc-records tbody, .kc-records tr, .kc-records td {
    display: block; width: 100%;
  }
  .kc-records tr { padding: .4rem 0; border-bottom: 1px solid var(--kc-line); }
  .kc-records td { padding: .15rem .5rem; overflow-wrap: anywhere; }
  .kc-records td:first-child { white-space: normal; }
  .kc-records td::before { content: attr(data-label) ": "; font-weight: 600; color: var(--kc-muted); }
}
@media (max-width: 50rem) {
  body { padding: 1rem; }
  .kc-bar { position: static; margin: -1rem -1rem 0; }
  .kc-nav { position: static; width: auto; margin: 0 -1rem 1rem; border-right: 0; border-bottom: 1px solid var(--kc-line); padding: .5rem 0; }
  td.tablecol[align="left"] { overflow-wrap: anywhere; }
  td.tablecol[align="left"]:has(> a) { min-width: 0; }
}
)css";

// A drawing surface with 4 x 4 supersampling per pixel.
class Canvas {
  public:
    Canvas(unsigned width, unsigned height)
        : width_(width), height_(height), pixels_(static_cast<std::size_t>(width) * height) {}

    // Paints `colour` where `inside(x, y)` holds; x and y are in pixels, (0, 0) the top left
    // corner of the image.
    void Fill(const std::function<bool(double, double)> &inside, Rgba colour) {
        constexpr int kSamples = 4;
        for (unsigned py = 0; py < height_; ++py) {
            for (unsigned px = 0; px < width_; ++px) {
                int hits = 0;
                for (int sy = 0; sy < kSamples; ++sy) {
                    for (int sx = 0; sx < kSamples; ++sx) {
                        if (inside(px + (sx + 0.5) / kSamples, py + (sy + 0.5) / kSamples)) {
                            ++hits;
                        }
                    }
                }
                if (hits > 0) {
                    Over(pixels_[py * width_ + px], colour, hits / double(kSamples * kSamples));
                }
            }
        }
    }

    std::string Png() const { return EncodePng(width_, height_, pixels_); }

  private:
    // Source-over compositing of `colour` at `coverage` onto `dst` (straight alpha).
    static void Over(Rgba &dst, Rgba colour, double coverage) {
        const double sa = colour.a / 255.0 * coverage;
        const double da = dst.a / 255.0;
        const double oa = sa + da * (1 - sa);
        if (oa <= 0) {
            return;
        }
        auto mix = [&](std::uint8_t s, std::uint8_t d) {
            return static_cast<std::uint8_t>(std::lround((s * sa + d * da * (1 - sa)) / oa));
        };
        dst = {mix(colour.r, dst.r), mix(colour.g, dst.g), mix(colour.b, dst.b),
               static_cast<std::uint8_t>(std::lround(oa * 255))};
    }

    unsigned width_;
    unsigned height_;
    std::vector<Rgba> pixels_;
};

auto Circle(double cx, double cy, double r) {
    return [=](double x, double y) { return (x - cx) * (x - cx) + (y - cy) * (y - cy) <= r * r; };
}

auto Rect(double x0, double y0, double x1, double y1) {
    return [=](double x, double y) { return x >= x0 && x <= x1 && y >= y0 && y <= y1; };
}

auto RoundedRect(double x0, double y0, double x1, double y1, double r) {
    return [=](double x, double y) {
        if (x < x0 || x > x1 || y < y0 || y > y1) {
            return false;
        }
        const double cx = x < x0 + r ? x0 + r : (x > x1 - r ? x1 - r : x);
        const double cy = y < y0 + r ? y0 + r : (y > y1 - r ? y1 - r : y);
        return (x - cx) * (x - cx) + (y - cy) * (y - cy) <= r * r;
    };
}

// The triangle (ax, ay), (bx, by), (cx, cy).
auto Triangle(double ax, double ay, double bx, double by, double cx, double cy) {
    return [=](double x, double y) {
        auto side = [](double x0, double y0, double x1, double y1, double px, double py) {
            return (x1 - x0) * (py - y0) - (y1 - y0) * (px - x0);
        };
        const double d1 = side(ax, ay, bx, by, x, y);
        const double d2 = side(bx, by, cx, cy, x, y);
        const double d3 = side(cx, cy, ax, ay, x, y);
        const bool negative = d1 < 0 || d2 < 0 || d3 < 0;
        const bool positive = d1 > 0 || d2 > 0 || d3 > 0;
        return !(negative && positive);
    };
}

// A line from (x0, y0) to (x1, y1), `width` pixels wide with round ends.
auto Line(double x0, double y0, double x1, double y1, double width) {
    return [=](double x, double y) {
        const double dx = x1 - x0, dy = y1 - y0;
        double t = ((x - x0) * dx + (y - y0) * dy) / (dx * dx + dy * dy);
        t = t < 0 ? 0 : (t > 1 ? 1 : t);
        const double ex = x0 + t * dx - x, ey = y0 + t * dy - y;
        return ex * ex + ey * ey <= width * width / 4;
    };
}

constexpr Rgba kAccent{31, 111, 178, 255};
constexpr Rgba kMuted{120, 136, 152, 255};
constexpr Rgba kWhite{255, 255, 255, 255};
constexpr Rgba kCritical{204, 45, 45, 255};

// Both sort directions: the list can be sorted by this column.
std::string SortedIcon() {
    Canvas canvas(16, 16);
    canvas.Fill(Triangle(8, 2, 12.5, 7, 3.5, 7), kMuted);
    canvas.Fill(Triangle(3.5, 9, 12.5, 9, 8, 14), kMuted);
    return canvas.Png();
}

// Sorted by this column.
std::string SortDownIcon() {
    Canvas canvas(16, 16);
    canvas.Fill(Triangle(3, 5, 13, 5, 8, 11.5), kAccent);
    return canvas.Png();
}

// An error: a red disc with an exclamation mark.
std::string CriticalIcon() {
    Canvas canvas(16, 16);
    canvas.Fill(Circle(8, 8, 7.5), kCritical);
    canvas.Fill(RoundedRect(6.9, 3.2, 9.1, 9.6, 1.1), kWhite);
    canvas.Fill(Circle(8, 12, 1.25), kWhite);
    return canvas.Png();
}

// A connection: three linked machines.
std::string NetworkIcon() {
    Canvas canvas(16, 16);
    canvas.Fill(Line(8, 4, 3.5, 12, 1.4), kMuted);
    canvas.Fill(Line(8, 4, 12.5, 12, 1.4), kMuted);
    canvas.Fill(Line(3.5, 12, 12.5, 12, 1.4), kMuted);
    canvas.Fill(RoundedRect(5, 1, 11, 6.5, 1), kAccent);
    canvas.Fill(RoundedRect(0.5, 9.5, 6.5, 15, 1), kAccent);
    canvas.Fill(RoundedRect(9.5, 9.5, 15.5, 15, 1), kAccent);
    return canvas.Png();
}

// The console's own mark: a server rack in a rounded square.
std::string ConsoleIcon() {
    Canvas canvas(32, 32);
    canvas.Fill(RoundedRect(0, 0, 32, 32, 7), kAccent);
    for (double top : {7.0, 13.5, 20.0}) {
        canvas.Fill(RoundedRect(7, top, 25, top + 5, 1.2), kWhite);
        canvas.Fill(Circle(10.5, top + 2.5, 1.1), kAccent);
        canvas.Fill(Rect(15, top + 2, 22, top + 3), Rgba{31, 111, 178, 140});
    }
    return canvas.Png();
}

const std::map<std::string, Asset, std::less<>> &Assets() {
    static const std::map<std::string, Asset, std::less<>> assets = [] {
        std::map<std::string, Asset, std::less<>> table;
        const std::string images = kImagePrefix;
        table[images + "sorted.png"] = {"image/png", SortedIcon()};
        table[images + "sortdown.png"] = {"image/png", SortDownIcon()};
        table[images + "GRPstatus_critical.png"] = {"image/png", CriticalIcon()};
        table[images + "network.png"] = {"image/png", NetworkIcon()};
        const std::string own = kConsolePrefix;
        table[own + "icon.png"] = {"image/png", ConsoleIcon()};
        table[own + "console.css"] = {"text/css; charset=utf-8", kStylesheet};
        return table;
    }();
    return assets;
}

}  // namespace

const Asset *FindAsset(std::string_view path) {
    const auto &assets = Assets();
    auto found = assets.find(path);
    return found != assets.end() ? &found->second : nullptr;
}

std::string_view Stylesheet() {
    return kStylesheet;
}

}  // namespace kel::console
