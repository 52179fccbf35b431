#include "update/release_check.h"

namespace {

bool ReadDigits(const std::string& text, size_t at, size_t count, int* value) {
    *value = 0;
    for (size_t i = at; i < at + count; ++i) {
        if (text[i] < '0' || text[i] > '9') return false;
        *value = *value * 10 + (text[i] - '0');
    }
    return true;
}

bool IsLeapYear(int year) { return (year % 4 == 0 && year % 100 != 0) || year % 400 == 0; }

int DaysInMonth(int year, int month) {
    static const int kDays[] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
    return month == 2 && IsLeapYear(year) ? 29 : kDays[month - 1];
}

// Days from 1970-01-01 to the given date of the proleptic Gregorian calendar.
std::int64_t DaysFromEpoch(int year, int month, int day) {
    year -= month <= 2;
    const std::int64_t era = year / 400;
    const std::int64_t yearOfEra = year - era * 400;
    const std::int64_t dayOfYear = (153 * (month + (month > 2 ? -3 : 9)) + 2) / 5 + day - 1;
    const std::int64_t dayOfEra = yearOfEra * 365 + yearOfEra / 4 - yearOfEra / 100 + dayOfYear;
    return era * 146097 + dayOfEra - 719468;
}

}  // namespace

bool ParseReleaseTime(const std::string& text, std::int64_t* seconds) {
    // YYYY-MM-DDTHH:MM:SSZ
    if (text.size() != 20 || text[4] != '-' || text[7] != '-' || text[10] != 'T' || text[13] != ':' ||
        text[16] != ':' || text[19] != 'Z')
        return false;
    int year, month, day, hour, minute, second;
    if (!ReadDigits(text, 0, 4, &year) || !ReadDigits(text, 5, 2, &month) || !ReadDigits(text, 8, 2, &day) ||
        !ReadDigits(text, 11, 2, &hour) || !ReadDigits(text, 14, 2, &minute) || !ReadDigits(text, 17, 2, &second))
        return false;
    if (year < 1970 || month < 1 || month > 12 || day < 1 || day > DaysInMonth(year, month) || hour > 23 ||
        minute > 59 || second > 59)
        return false;
    *seconds = DaysFromEpoch(year, month, day) * 86400 + hour * 3600 + minute * 60 + second;
    return true;
}

ReleaseVerdict DecideRelease(const ReleaseInfo& info, const std::string& fetchedUrl, const std::string& sha256Hex,
                             std::int64_t nowUtc, const SerialStore& accepted) {
    std::uint64_t serial = 0;
    std::int64_t expires = 0;
    // Bytes that could not be hashed cannot be matched against a serial seen before.
    if (sha256Hex.size() != 64 || sha256Hex.find_first_not_of("0123456789abcdef") != std::string::npos)
        return ReleaseVerdict::kMissing;
    if (!info.present || info.url.empty() || !ParseSerial(info.serial, &serial) ||
        !ParseReleaseTime(info.expires, &expires))
        return ReleaseVerdict::kMissing;
    if (info.url != fetchedUrl) return ReleaseVerdict::kOtherUrl;
    // An older release is named as such even when it has also expired: that is the attack.
    auto seen = accepted.find(fetchedUrl);
    if (seen != accepted.end()) {
        if (serial < seen->second.serial) return ReleaseVerdict::kOlder;
        if (serial == seen->second.serial && sha256Hex != seen->second.sha256) return ReleaseVerdict::kOlder;
    }
    if (nowUtc >= expires) return ReleaseVerdict::kExpired;
    return ReleaseVerdict::kAccepted;
}
