// Regular expressions and the SQL function regexp (see hlx_regex.h).
#include "utility/hlx_regex.h"

#include <sqlite3.h>

#include <memory>
#include <regex>
#include <string_view>

#include "utility/hlx_text.h"

namespace hlx {
namespace {

std::string UpperAscii(const unsigned char* text, int length) {
  return ToUpperAscii(std::string_view(reinterpret_cast<const char*>(text), static_cast<size_t>(length)));
}

void DeleteRegex(void* regex) { delete static_cast<std::regex*>(regex); }

}  // namespace

bool RegexMatch(const std::string& text, const std::string& pattern) {
  try {
    return std::regex_match(text, std::regex(pattern));
  } catch (const std::exception&) {  // std::regex_error for a bad pattern, std::bad_alloc
    return false;
  }
}

std::string RegexReplaceAll(const std::string& text, const std::string& pattern, const std::string& replacement) {
  try {
    return std::regex_replace(text, std::regex(pattern), replacement);
  } catch (const std::exception&) {
    return text;
  }
}

std::vector<std::string> FindAssetsTableNames(const std::string& text) {
  std::vector<std::string> names;
  try {
    static const std::regex kAssetsTable("Z_[0-9]+ASSETS");
    for (std::sregex_iterator match(text.begin(), text.end(), kAssetsTable), end; match != end; ++match) {
      names.push_back(match->str());
    }
  } catch (const std::exception&) {
    names.clear();
  }
  return names;
}

void SqlRegexp(sqlite3_context* context, int argumentCount, sqlite3_value** arguments) {
  static const char kInvalidArguments[] = "SQL function regexp() called with invalid arguments.\n";
  // A callback from SQLite's C code: nothing may be thrown out of it.
  try {
    if (argumentCount != 2) {
      sqlite3_result_error(context, kInvalidArguments, -1);
      return;
    }
    const unsigned char* pattern = sqlite3_value_text(arguments[0]);
    int patternBytes = sqlite3_value_bytes(arguments[0]);
    const unsigned char* text = sqlite3_value_text(arguments[1]);
    int textBytes = sqlite3_value_bytes(arguments[1]);
    if (pattern == nullptr || text == nullptr || patternBytes <= 0 || textBytes <= 0) {
      sqlite3_result_error(context, kInvalidArguments, -1);
      return;
    }
    // The compiled pattern is kept as the pattern argument's auxiliary data, so a query over many
    // rows compiles it once.
    auto* cached = static_cast<std::regex*>(sqlite3_get_auxdata(context, 0));
    std::unique_ptr<std::regex> compiled;
    if (cached == nullptr) {
      const std::string upperPattern = UpperAscii(pattern, patternBytes);
      try {
        compiled = std::make_unique<std::regex>(upperPattern);
      } catch (const std::regex_error&) {
        sqlite3_result_error(context, "SQL function regexp() called with an invalid pattern.\n", -1);
        return;
      }
      cached = compiled.get();
    }
    const std::string upperText = UpperAscii(text, textBytes);
    bool found = std::regex_search(upperText, *cached);
    sqlite3_result_int(context, found ? 1 : 0);
    // SQLite may run the destructor before set_auxdata returns: the regex is not used after it.
    if (compiled) sqlite3_set_auxdata(context, 0, compiled.release(), DeleteRegex);
  } catch (const std::bad_alloc&) {
    sqlite3_result_error_nomem(context);
  } catch (const std::exception&) {
    sqlite3_result_error(context, "SQL function regexp() failed.\n", -1);
  }
}

int RegisterSqlRegexp(sqlite3* db) {
  return sqlite3_create_function_v2(db, "regexp", 2, SQLITE_UTF8 | SQLITE_DETERMINISTIC, nullptr, SqlRegexp, nullptr,
                                    nullptr, nullptr);
}

}  // namespace hlx
