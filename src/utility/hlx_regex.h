// Regular expressions (std::regex, ECMAScript grammar), one of them registered as the SQL function
// "regexp". A pattern that does not compile (or a match that exhausts the engine) is a failure,
// never an exception. No state; any thread.
#pragma once

#include <string>
#include <vector>

struct sqlite3;
struct sqlite3_context;
struct sqlite3_value;

namespace hlx {

// Whether the whole text matches; false for a bad pattern.
bool RegexMatch(const std::string& text, const std::string& pattern);
// The text with every match replaced (ECMAScript format rules: $&, $1 ...); the text unchanged for
// a bad pattern.
std::string RegexReplaceAll(const std::string& text, const std::string& pattern, const std::string& replacement);
// Every match of "Z_[0-9]+ASSETS" in the text, in order.
std::vector<std::string> FindAssetsTableNames(const std::string& text);

// The SQL function regexp(pattern, text), so that X REGEXP Y is regexp(Y, X): 1 when the pattern
// is found anywhere in the text, else 0. Both are upper-cased byte by byte first, so ASCII letters
// compare without regard to case (note that this also turns escapes such as \d into \D). A count
// other than 2, or an empty or NULL argument, gives the SQL error "SQL function regexp() called
// with invalid arguments.\n"; a pattern that does not compile gives an SQL error too. The compiled
// pattern is kept for the statement while the pattern argument stays the same.
void SqlRegexp(sqlite3_context* context, int argumentCount, sqlite3_value** arguments);
// Registers SqlRegexp as "regexp" with two arguments on a connection; the SQLite result code.
[[nodiscard]] int RegisterSqlRegexp(sqlite3* db);

// Compares dotted version texts number by number: -1, 0 or 1 ("9.3.1" > "9.3" == "9.3"). Null sorts
// below any text.
int CompareVersionStrings(const char* a, const char* b);

}  // namespace hlx
