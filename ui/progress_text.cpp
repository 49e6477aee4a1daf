#include "ui/progress_text.h"

#include <algorithm>

#include "toolkit/format.h"

namespace kelto {
namespace {

struct SizeUnit {
    int shift;  // the divisor is 2^shift
    std::string_view name;
};

SizeUnit UnitFor(int64_t size) {
    if (size < (int64_t{1} << 20)) {
        return {10, "KB"};
    }
    if (size < (int64_t{1} << 30)) {
        return {20, "MB"};
    }
    return {30, "GB"};
}

// The significant digits kept before the size is rounded to one decimal: the
// rounding looks at this decimal form, not at the exact quotient.
constexpr size_t kSignificantDigits = 18;

// Rounds a string of decimal digits half away from zero so that only its
// first keep digits remain. Returns true when the carry ran past the first
// digit and added a new one in front.
bool RoundDigits(std::string& digits, size_t keep) {
    if (keep >= digits.size()) {
        return false;
    }
    bool up = digits[keep] >= '5';
    digits.resize(keep);
    if (!up) {
        return false;
    }
    for (size_t i = keep; i-- > 0;) {
        if (digits[i] != '9') {
            ++digits[i];
            return false;
        }
        digits[i] = '0';
    }
    digits.insert(digits.begin(), '1');
    return true;
}

// magnitude / 2^shift with one decimal. The quotient is worked out exactly in
// decimal digits (a fraction of n binary places ends after n decimal ones),
// so no floating point, no locale and no 64-bit precision loss come in.
std::string OneDecimal(uint64_t magnitude, int shift) {
    std::string digits = std::to_string(magnitude >> shift);
    size_t point = digits.size();  // digits before the decimal point
    uint64_t mask = (uint64_t{1} << shift) - 1;
    uint64_t fraction = magnitude & mask;
    for (int i = 0; i < shift; ++i) {
        fraction *= 10;
        digits += static_cast<char>('0' + (fraction >> shift));
        fraction &= mask;
    }
    size_t first = digits.find_first_not_of('0');
    if (first != std::string::npos && RoundDigits(digits, first + kSignificantDigits)) {
        ++point;
    }
    if (digits.size() < point + 2) {
        digits.resize(point + 2, '0');
    }
    if (RoundDigits(digits, point + 1)) {
        ++point;
    }
    size_t lead = std::min(digits.find_first_not_of('0'), point - 1);
    return digits.substr(lead, point - lead) + "." + digits[point];
}

}  // namespace

std::string FormatByteSize(int64_t size) {
    SizeUnit unit = UnitFor(size);
    uint64_t magnitude = size < 0 ? 0 - static_cast<uint64_t>(size) : static_cast<uint64_t>(size);
    std::string number = OneDecimal(magnitude, unit.shift);
    // A negative size only comes from a caller's fault; one that rounds to
    // nothing reads "0.0", never "-0.0".
    if (size < 0 && number != "0.0") {
        number.insert(number.begin(), '-');
    }
    return number + " " + std::string(unit.name);
}

ProgressReport NextProgressReport(int32_t total, int32_t done, uint32_t elapsedMs,
                                  int32_t& lastProgress, std::string_view format) {
    ProgressReport report;
    // The piece that completes a download moves nothing: the bar stops short
    // of its end and the line keeps the last speed.
    if (done == total) {
        return report;
    }
    // Without an announced size (0, or a garbage negative header) there is
    // no fraction to show, and past the announced size the position would
    // leave the bar's range and the remaining time would be made up. In
    // both cases the bar and the line keep what they show; the transfer goes
    // on and is judged by its status alone.
    if (total <= 0 || done < 0 || done > total) {
        return report;
    }
    auto progress = static_cast<int32_t>(int64_t{done} * kProgressScale / total);
    // Only a new position is worth a round trip to the window; the last one
    // is never reset, so a new request that starts where the last one left
    // off sends nothing at first.
    if (progress == lastProgress) {
        return report;
    }
    lastProgress = progress;
    report.send = true;
    report.position = progress;

    // The plain average over the whole request, whole bytes per second; a
    // speed of 0 (no time passed yet, or below one byte per second) shows no
    // figure rather than an endless remaining time.
    uint32_t speed = 0;
    if (elapsedMs > 0) {
        double seconds = elapsedMs / 1000.0;
        auto perSecond = static_cast<uint64_t>(static_cast<double>(done) / seconds);
        speed = static_cast<uint32_t>(perSecond);  // only the low 32 bits count
    }
    if (speed == 0 || format.empty()) {
        return report;
    }
    // (total - done) is below 2^31, so the remaining seconds fit a signed
    // 32-bit number, which is what the format's %d reads.
    uint32_t remaining = static_cast<uint32_t>(total - done) / speed;
    std::string sizeText = FormatByteSize(speed);
    const FormatArg args[] = {TextArg(sizeText), IntArg(static_cast<int32_t>(remaining))};
    report.status = FormatText(format, args);
    return report;
}

}  // namespace kelto
