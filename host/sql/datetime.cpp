#include "sql/datetime.h"

#include <chrono>
#include <cstdio>
#include <ctime>

namespace varrow::host::sql {
namespace {

constexpr Ticks TICKS_PER_SECOND = 10'000'000;
constexpr Ticks TICKS_PER_DAY = 86'400 * TICKS_PER_SECOND;
// Days from 0001-01-01 to 1900-01-01, DATETIME's day zero.
constexpr std::int64_t DAYS_TO_1900 = 693'595;
constexpr std::int64_t DAYS_TO_1753 = 639'905;  // DATETIME's first day
constexpr std::int64_t DAYS_TO_10000 = 3'652'059;

constexpr const char* MONTHS[] = {"Jan", "Feb", "Mar", "Apr", "May", "Jun",
                                  "Jul", "Aug", "Sep", "Oct", "Nov", "Dec"};

// Days since 0001-01-01 of a proleptic Gregorian date, and back.
std::int64_t days_of(std::int64_t y, unsigned m, unsigned d) {
  y -= m <= 2;
  const std::int64_t era = (y >= 0 ? y : y - 399) / 400;
  const auto yoe = static_cast<unsigned>(y - era * 400);
  const unsigned doy = (153 * (m + (m > 2 ? -3 : 9)) + 2) / 5 + d - 1;
  const unsigned doe = yoe * 365 + yoe / 4 - yoe / 100 + doy;
  return era * 146097 + static_cast<std::int64_t>(doe) - 719468 + 719162;
}

struct Civil {
  std::int64_t year;
  unsigned month, day;
};

Civil civil_of(std::int64_t days) {
  const std::int64_t z = days - 719162 + 719468;
  const std::int64_t era = (z >= 0 ? z : z - 146096) / 146097;
  const auto doe = static_cast<unsigned>(z - era * 146097);
  const unsigned yoe = (doe - doe / 1460 + doe / 36524 - doe / 146096) / 365;
  const unsigned doy = doe - (365 * yoe + yoe / 4 - yoe / 100);
  const unsigned mp = (5 * doy + 2) / 153;
  const unsigned d = doy - (153 * mp + 2) / 5 + 1;
  const unsigned m = mp < 10 ? mp + 3 : mp - 9;
  return {static_cast<std::int64_t>(yoe) + era * 400 + (m <= 2), m, d};
}

std::uint32_t le32(const Bytes& b, std::size_t at) {
  return std::uint32_t{b[at]} | std::uint32_t{b[at + 1]} << 8 | std::uint32_t{b[at + 2]} << 16 |
         std::uint32_t{b[at + 3]} << 24;
}

void put32(Bytes& b, std::uint32_t v) {
  for (int i = 0; i < 4; ++i)
    b.push_back(static_cast<std::uint8_t>(v >> (8 * i)));
}

[[noreturn]] void bad_text() {
  throw EvaluationError{241,
                        "Conversion failed when converting date and/or time from character "
                        "string."};
}

}  // namespace

Ticks ticks_of(const Value& date) {
  const Bytes& b = *date.bytes;
  if (date.type.base == BaseType::DateTime) {
    const auto days = static_cast<std::int32_t>(le32(b, 0));
    const std::uint32_t three_hundredths = le32(b, 4);
    return (DAYS_TO_1900 + days) * TICKS_PER_DAY +
           (static_cast<Ticks>(three_hundredths) * TICKS_PER_SECOND + 150) / 300;
  }
  return static_cast<Ticks>(static_cast<std::uint64_t>(le32(b, 0)) |
                            static_cast<std::uint64_t>(le32(b, 4)) << 32);
}

Value date_of(Ticks ticks, BaseType base) {
  Bytes b;
  if (base == BaseType::DateTime) {
    std::int64_t days = ticks / TICKS_PER_DAY;
    Ticks in_day = ticks % TICKS_PER_DAY;
    std::int64_t three_hundredths = (in_day * 300 + TICKS_PER_SECOND / 2) / TICKS_PER_SECOND;
    if (three_hundredths >= 300 * 86'400) ++days, three_hundredths = 0;
    put32(b, static_cast<std::uint32_t>(static_cast<std::int32_t>(days - DAYS_TO_1900)));
    put32(b, static_cast<std::uint32_t>(three_hundredths));
    return Value{SqlType{BaseType::DateTime, 8, false}, b};
  }
  const auto u = static_cast<std::uint64_t>(ticks);
  put32(b, static_cast<std::uint32_t>(u));
  put32(b, static_cast<std::uint32_t>(u >> 32));
  return Value{SqlType{BaseType::DateTime2, 8, false}, b};
}

Ticks now_ticks(bool utc) {
  using namespace std::chrono;
  const auto since_epoch = system_clock::now().time_since_epoch();
  Ticks ticks = duration_cast<nanoseconds>(since_epoch).count() / 100;
  if (!utc) {
    const std::time_t t = system_clock::to_time_t(system_clock::now());
    std::tm local{};
    localtime_r(&t, &local);
    ticks += static_cast<Ticks>(local.tm_gmtoff) * TICKS_PER_SECOND;
  }
  return ticks + days_of(1970, 1, 1) * TICKS_PER_DAY;
}

std::string date_text(const Value& date, int style) {
  const Ticks ticks = ticks_of(date);
  const Civil c = civil_of(ticks / TICKS_PER_DAY);
  const Ticks in_day = ticks % TICKS_PER_DAY;
  const auto h = static_cast<int>(in_day / (3600 * TICKS_PER_SECOND));
  const auto mi = static_cast<int>(in_day / (60 * TICKS_PER_SECOND) % 60);
  const auto s = static_cast<int>(in_day / TICKS_PER_SECOND % 60);
  const auto fraction = static_cast<long>(in_day % TICKS_PER_SECOND);
  const bool wide = date.type.base == BaseType::DateTime2;
  char out[64];
  char frac[16];
  if (wide) {
    std::snprintf(frac, sizeof frac, ".%07ld", fraction);
  } else {
    std::snprintf(frac, sizeof frac, ".%03ld", (fraction + 5000) / 10000 % 1000);
  }
  const auto y = static_cast<long long>(c.year);
  switch (style) {
    case 0:
    case 100:
      if (wide && style == 0) {
        std::snprintf(out, sizeof out, "%04lld-%02u-%02u %02d:%02d:%02d%s", y, c.month, c.day, h,
                      mi, s, frac);
      } else {
        std::snprintf(out, sizeof out, "%s %2u %04lld %2d:%02d%s", MONTHS[c.month - 1], c.day, y,
                      h % 12 == 0 ? 12 : h % 12, mi, h < 12 ? "AM" : "PM");
      }
      break;
    case 20:
    case 120:
      std::snprintf(out, sizeof out, "%04lld-%02u-%02u %02d:%02d:%02d", y, c.month, c.day, h, mi,
                    s);
      break;
    case 21:
    case 25:
    case 121:
    case 126:
      std::snprintf(out, sizeof out, "%04lld-%02u-%02u%c%02d:%02d:%02d%s", y, c.month, c.day,
                    style == 126 ? 'T' : ' ', h, mi, s, frac);
      break;
    case 23:
      std::snprintf(out, sizeof out, "%04lld-%02u-%02u", y, c.month, c.day);
      break;
    case 108:
      std::snprintf(out, sizeof out, "%02d:%02d:%02d", h, mi, s);
      break;
    case 112:
      std::snprintf(out, sizeof out, "%04lld%02u%02u", y, c.month, c.day);
      break;
    default:
      throw ConversionError{std::to_string(style) +
                            " is not a valid style number when converting from " +
                            (wide ? "datetime2" : "datetime") + " to a character string."};
  }
  return out;
}

Value date_from_text(const std::string& text, BaseType base) {
  const std::size_t begin = text.find_first_not_of(' ');
  const std::size_t end = text.find_last_not_of(' ');
  if (begin == std::string::npos) bad_text();
  const std::string t = text.substr(begin, end - begin + 1);
  unsigned y = 0, m = 0, d = 0, h = 0, mi = 0, s = 0;
  int used = 0;
  if (std::sscanf(t.c_str(), "%4u-%2u-%2u%n", &y, &m, &d, &used) != 3 &&
      (std::sscanf(t.c_str(), "%4u%2u%2u%n", &y, &m, &d, &used) != 3 || used != 8)) {
    bad_text();
  }
  std::size_t at = static_cast<std::size_t>(used);
  Ticks fraction = 0;
  if (at < t.size()) {
    if (t[at] != ' ' && t[at] != 'T') bad_text();
    int time_used = 0;
    const int got =
        std::sscanf(t.c_str() + at + 1, "%2u:%2u%n:%2u%n", &h, &mi, &time_used, &s, &time_used);
    if (got < 2) bad_text();
    at += 1 + static_cast<std::size_t>(time_used);
    if (at < t.size() && t[at] == '.') {
      Ticks scale = TICKS_PER_SECOND;
      for (++at; at < t.size() && t[at] >= '0' && t[at] <= '9'; ++at) {
        scale /= 10;
        fraction += (t[at] - '0') * scale;
      }
    }
    if (at != t.size()) bad_text();
  }
  const unsigned month_days[] = {31, 29, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
  if (y < 1 || m < 1 || m > 12 || d < 1 || d > month_days[m - 1] || h > 23 || mi > 59 || s > 59) {
    bad_text();
  }
  const std::int64_t days = days_of(y, m, d);
  if (civil_of(days).month != m) bad_text();  // 29 February of a common year
  if (base == BaseType::DateTime && (days < DAYS_TO_1753 || days >= DAYS_TO_10000)) {
    throw EvaluationError{242,
                          "The conversion of a varchar data type to a datetime data type "
                          "resulted in an out-of-range value."};
  }
  return date_of(days * TICKS_PER_DAY + ((h * 60 + mi) * 60 + s) * TICKS_PER_SECOND + fraction,
                 base);
}

}  // namespace varrow::host::sql
