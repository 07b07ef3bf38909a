#include "imaging/strings/messages.h"

namespace {
// Replaces the placeholders (%s, %d) in order; "%%" stays a percent sign.
std::string Fill(const char* format, std::initializer_list<const std::string*> args)
{
    std::string out;
    auto next = args.begin();
    for (const char* p = format; *p; ++p) {
        if (p[0] == '%' && p[1] == '%') {
            out += '%';
            ++p;
        } else if (p[0] == '%' && (p[1] == 's' || p[1] == 'd') && next != args.end()) {
            out += **next++;
            ++p;
        } else {
            out += *p;
        }
    }
    return out;
}
} // namespace

std::string Format(const char* format, const std::string& a)
{
    return Fill(format, {&a});
}

std::string Format(const char* format, const std::string& a, const std::string& b)
{
    return Fill(format, {&a, &b});
}
