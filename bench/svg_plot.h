// A small log-log line chart written as SVG text, for the benchmark's time-against-size plot.
#pragma once

#include <string>
#include <vector>

struct plot_series {
    std::string label;
    std::string colour;
    bool dashed = false;
    std::vector<double> x, y;
};

struct plot_settings {
    std::string title;
    std::string x_label;
    std::string y_label;
    std::vector<std::string> notes; // lines under the title
};

std::string svg_log_log_plot(const plot_settings& settings, const std::vector<plot_series>& series);
