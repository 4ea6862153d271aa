#include "svg_plot.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <limits>

namespace {

constexpr double WIDTH = 720, HEIGHT = 480, LEFT = 80, RIGHT = 200, TOP = 70, BOTTOM = 60;

std::string number(double v)
{
    char buf[32];
    std::snprintf(buf, sizeof buf, "%.1f", v);
    return buf;
}

std::string tick_label(double v)
{
    char buf[32];
    if (v >= 1e6)
        std::snprintf(buf, sizeof buf, "%gM", v / 1e6);
    else if (v >= 1e3)
        std::snprintf(buf, sizeof buf, "%gk", v / 1e3);
    else
        std::snprintf(buf, sizeof buf, "%g", v);
    return buf;
}

std::string escape(const std::string& s)
{
    std::string out;
    for (char c : s) {
        if (c == '<')
            out += "&lt;";
        else if (c == '>')
            out += "&gt;";
        else if (c == '&')
            out += "&amp;";
        else
            out += c;
    }
    return out;
}

struct axis {
    double lo, hi; // decades, log10
    double from, to; // pixels
    double at(double v) const { return from + (std::log10(v) - lo) / (hi - lo) * (to - from); }
};

} // namespace

std::string svg_log_log_plot(const plot_settings& settings, const std::vector<plot_series>& series)
{
    double xmin = std::numeric_limits<double>::max(), xmax = 0, ymin = xmin, ymax = 0;
    for (const plot_series& s : series) {
        for (double v : s.x) {
            xmin = std::min(xmin, v);
            xmax = std::max(xmax, v);
        }
        for (double v : s.y) {
            ymin = std::min(ymin, v);
            ymax = std::max(ymax, v);
        }
    }
    const axis x{std::floor(std::log10(xmin)), std::ceil(std::log10(xmax)), LEFT, WIDTH - RIGHT};
    axis y{std::floor(std::log10(ymin)), std::ceil(std::log10(ymax)), HEIGHT - BOTTOM, TOP};
    if (y.hi == y.lo)
        y.hi += 1;

    std::string svg = "<svg xmlns=\"http://www.w3.org/2000/svg\" width=\"" + number(WIDTH) + "\" height=\"" +
                      number(HEIGHT) + "\" font-family=\"sans-serif\" font-size=\"12\">\n";
    svg += "<rect width=\"100%\" height=\"100%\" fill=\"white\"/>\n";
    svg += "<text x=\"" + number(LEFT) + "\" y=\"24\" font-size=\"16\" font-weight=\"bold\">" +
           escape(settings.title) + "</text>\n";
    double note_y = 42;
    for (const std::string& note : settings.notes) {
        svg += "<text x=\"" + number(LEFT) + "\" y=\"" + number(note_y) + "\" fill=\"#444\">" + escape(note) +
               "</text>\n";
        note_y += 15;
    }
    // Grid and ticks at 1, 2 and 5 of every decade.
    for (double d = x.lo; d <= x.hi; ++d) {
        for (double m : {1.0, 2.0, 5.0}) {
            const double v = m * std::pow(10, d);
            if (std::log10(v) > x.hi + 1e-9)
                continue;
            const double px = x.at(v);
            svg += "<line x1=\"" + number(px) + "\" y1=\"" + number(y.from) + "\" x2=\"" + number(px) + "\" y2=\"" +
                   number(y.to) + "\" stroke=\"" + (m == 1 ? "#ccc" : "#eee") + "\"/>\n";
            svg += "<text x=\"" + number(px) + "\" y=\"" + number(y.from + 18) + "\" text-anchor=\"middle\">" +
                   tick_label(v) + "</text>\n";
        }
    }
    for (double d = y.lo; d <= y.hi; ++d) {
        for (double m : {1.0, 2.0, 5.0}) {
            const double v = m * std::pow(10, d);
            if (std::log10(v) > y.hi + 1e-9)
                continue;
            const double py = y.at(v);
            svg += "<line x1=\"" + number(x.from) + "\" y1=\"" + number(py) + "\" x2=\"" + number(x.to) + "\" y2=\"" +
                   number(py) + "\" stroke=\"" + (m == 1 ? "#ccc" : "#eee") + "\"/>\n";
            svg += "<text x=\"" + number(x.from - 6) + "\" y=\"" + number(py + 4) + "\" text-anchor=\"end\">" +
                   tick_label(v) + "</text>\n";
        }
    }
    svg += "<rect x=\"" + number(x.from) + "\" y=\"" + number(y.to) + "\" width=\"" + number(x.to - x.from) +
           "\" height=\"" + number(y.from - y.to) + "\" fill=\"none\" stroke=\"#333\"/>\n";
    svg += "<text x=\"" + number((x.from + x.to) / 2) + "\" y=\"" + number(HEIGHT - 18) +
           "\" text-anchor=\"middle\">" + escape(settings.x_label) + "</text>\n";
    svg += "<text transform=\"translate(22," + number((y.from + y.to) / 2) + ") rotate(-90)\" text-anchor=\"middle\">" +
           escape(settings.y_label) + "</text>\n";

    double legend_y = TOP + 10;
    for (const plot_series& s : series) {
        std::string points;
        for (std::size_t i = 0; i < s.x.size() && i < s.y.size(); ++i)
            points += number(x.at(s.x[i])) + "," + number(y.at(s.y[i])) + " ";
        const std::string dash = s.dashed ? " stroke-dasharray=\"6,4\"" : "";
        svg += "<polyline points=\"" + points + "\" fill=\"none\" stroke=\"" + s.colour + "\" stroke-width=\"2\"" +
               dash + "/>\n";
        for (std::size_t i = 0; i < s.x.size() && i < s.y.size(); ++i)
            svg += "<circle cx=\"" + number(x.at(s.x[i])) + "\" cy=\"" + number(y.at(s.y[i])) + "\" r=\"3.5\" fill=\"" +
                   s.colour + "\"/>\n";
        const double lx = x.to + 16;
        svg += "<line x1=\"" + number(lx) + "\" y1=\"" + number(legend_y) + "\" x2=\"" + number(lx + 24) + "\" y2=\"" +
               number(legend_y) + "\" stroke=\"" + s.colour + "\" stroke-width=\"2\"" + dash + "/>\n";
        svg += "<text x=\"" + number(lx + 30) + "\" y=\"" + number(legend_y + 4) + "\">" + escape(s.label) +
               "</text>\n";
        legend_y += 20;
    }
    svg += "</svg>\n";
    return svg;
}
