// The hall's answers: what each route gives, made into a status and a body. Which answer a
// request gets is the routes' (hall/routes.h); the network and the threads are the server's.
// Everything here can be called directly.
#pragma once

#include <filesystem>
#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "hall/rate_limit.h"
#include "hall/signing.h"
#include "hall/store.h"
#include "hall/target.h"

class LIVE;

struct HALL {
    STORE *store = nullptr;
    LIVE *live = nullptr;  // the live games, while a server runs (hall/live.h)
    std::string secret;    // the hall's own, kept in its database: the day's seed comes from it
    // The only clock the hall reads, in milliseconds since 1970 (UTC); tests pin it.
    std::function<long long()> now_ms;
    RATE_LIMIT rate;
    std::filesystem::path site;  // a folder of files served as they are; empty: none
    // Origins besides the hall's own (its scheme, http:// or a trusted proxy's https://, and its
    // Host) whose pages may post to it: a public origin the hall is served under by a proxy that
    // passes another Host, as "https://halls.example".
    std::vector<std::string> origins;
};

struct REQUEST {
    std::string method;
    std::string target;  // the path and the query, as the request line has them
    std::string body;
    std::string address;          // the client's, as text
    std::string host;             // the Host field; empty when none
    std::string origin;           // the Origin field; empty when none
    std::string scheme = "http";  // the page's: "https" behind a proxy that says so
    // The run's Ed25519 public key and signature, base64url, from the Marrowdeep-Key and
    // Marrowdeep-Signature fields (or a live game's end); nothing when the field was not sent.
    std::optional<std::string> key;
    std::optional<std::string> signature;
    // A live game's run kept at its end: when the game was played live from its first key, the
    // time it began (milliseconds); -1 otherwise, and for every request from the network.
    long long live = -1;
    // A live game kept once its player left: the raw key its start was signed with (checked
    // then), whose run it is kept as; empty otherwise, and for every request from the network.
    std::string live_signer{};
};

struct ANSWER {
    int status = 200;
    std::string content_type = "application/json";
    std::string body;
    std::vector<std::pair<std::string, std::string>> headers;  // more fields, e.g. Allow
};

// The longest hero's name the hall takes, in bytes.
inline constexpr std::size_t MOST_NAME_BYTES = 40;

// The sentence of a run refused under a name another key claimed (403), or under a claimed name
// unsigned; a live game refused for its name says the same.
inline constexpr const char *NAME_TAKEN_SENTENCE =
    "This hero's name belongs to another key: the hall keeps runs under it only when they are signed "
    "by the key that claimed it.";

// The steps of a submission, each on the queue its route names: admitted (its origin and the
// address's limit, on the network thread), read (the link, the name, the key and signature, and
// a run kept already found by its id, on the store's), proven (the keys played again and the
// signature checked against the run's id, on the proofs'), then kept (on the store's, where a
// signed run claims its name, and a name claimed refuses the runs of other keys). Each step
// answers at once when the run stops there; none throws.
struct SUBMISSION {
    bool answered = false;
    ANSWER answer;     // when answered
    RUN run;           // read from the link
    std::string text;  // the link's text
    bool is_signed = false;
    RUN_SIGNATURE signature;  // when signed: read, not yet verified until proven
    KEPT_RUN kept;            // when proven
};
// The refusal of a submission from another site, or over the address's limit; empty when
// admitted. A run admitted counts against the limit whatever comes of it.
std::optional<ANSWER> admit_submission(HALL &hall, const REQUEST &request);
SUBMISSION read_submission(HALL &hall, const REQUEST &request);
void prove_submission(HALL &hall, SUBMISSION &submission);
ANSWER keep_submission(HALL &hall, const SUBMISSION &submission);
// The answer of a hall too busy to take a request now.
ANSWER busy_answer();

// A kept run's record as the hall's answers give it (`{"id", "name", ...}`), its text.
std::string record_text(const KEPT_RUN &run);

// An error as every answer of the hall gives one: the status and {"error": sentence}.
ANSWER error_answer(int status, const std::string &sentence);

// Runs one step of an answer, whatever it throws made into one: 503 with Retry-After when the
// database cannot answer now, else 500 with a sentence, and a line on standard error saying what
// the hall was `doing` ("to answer a request").
std::optional<ANSWER> guarded_step(const char *doing, const std::function<std::optional<ANSWER>()> &step);

// The hall's health: 200 with its version, or 503 with Retry-After and the sentence `trouble`
// when its database cannot take a write.
ANSWER health_answer(const std::string &trouble);
// A board: the best run of each name and seed, best first; of one seed with ?seed=, as many as
// ?limit= (50 unless asked, at most 500).
ANSWER answer_board(HALL &hall, const TARGET &target);
// A day's date and seed and its board (its ranked runs, then its practice): today's (UTC, by the
// hall's clock), or ?date=YYYY-MM-DD's, of any day begun. A day not begun yet is refused, so its
// seed stays secret.
ANSWER answer_daily(HALL &hall, const TARGET &target);
// The hall's Atom feed: the runs that took first place on a seed's board, and the winner of each
// day that has ended, the newest first. Its links are under the hall's first --origin, or else
// under the origin the request names (its scheme and a Host of a plain host name or address).
ANSWER answer_feed(HALL &hall, const REQUEST &request);
// A run kept, its record and its link; 404 for an id the hall does not have.
ANSWER answer_run(HALL &hall, const std::string &id);
// Every run kept, a page at a time, oldest first, as NDJSON: a line for each run, its record with
// its link as answer_run() gives it. ?after= is the id of the last run of the page before (none:
// from the first run; 404 for an id the hall does not have); ?limit= the most runs on the page
// (DEFAULT_EXPORT_LIMIT unless asked, at most MOST_EXPORT_LIMIT, else 400). A page also ends at
// the first run that takes it past MOST_EXPORT_BYTES, so it may hold fewer runs than its limit:
// the runs are all read when a page is empty.
inline constexpr long long DEFAULT_EXPORT_LIMIT = 100;
inline constexpr long long MOST_EXPORT_LIMIT = 1000;
inline constexpr std::size_t MOST_EXPORT_BYTES = 4 * 1024 * 1024;
inline constexpr int EXPORT_BATCH = 100;  // the runs read from the database at once
ANSWER answer_runs(HALL &hall, const TARGET &target);

// A player's page: the name (its exact bytes, decoded from the path), whether a key claimed it,
// its totals, its runs the newest first (?limit=, 50 unless asked, at most 500; ?before=ID, the
// runs kept before that one of its runs), its best run on each seed and its place there, and
// the days it played the day's seed, with its place on that day's board. 404 for a name with
// no run and no claim.
ANSWER answer_player(HALL &hall, const std::string &name, const TARGET &target);
// A run's sheet (hall/sheet.h), the run played again to its end; text/plain.
ANSWER answer_sheet(const KEPT_RUN &run);

// Whether a request comes from one of the hall's own pages (or from no browser's page at all),
// and the refusal of one that does not: only the hall's pages may post to it.
bool own_origin(const HALL &hall, const REQUEST &request);
ANSWER foreign_origin();

// The run's id: the first 16 bytes of a SHA-256 of its version, its clock second and its keys,
// in hexadecimal. The same run has the same id in every hall, and a run sent twice is one run.
std::string run_id(const RUN &run);
// The id of a run's play: the same digest over its version, its clock second and the keys after
// the hero's name (and the blanks the game skips after it). Two runs that differ only in their
// name play the same game: the later one is a copy.
std::string play_id(const RUN &run);
// The hero's name as the game will read it from the keys: the first word, blanks before it
// skipped. `rest` is where the play starts (after the blanks that end the name).
std::string_view name_in_keys(std::string_view keys, std::size_t &rest);
// The day's seed: HMAC-SHA-256 of the date ("YYYY-MM-DD") under the hall's secret, made into a
// number from 1 to 999,999,999, one a player can type.
long long daily_seed(std::string_view secret, std::string_view date);
// "YYYY-MM-DD" and "YYYY-MM-DDTHH:MM:SSZ" of a second since 1970, in UTC.
std::string utc_date(long long seconds);
std::string utc_time(long long seconds);
// The UTC day number (days since 1970) of a date written "YYYY-MM-DD"; false for any other text
// or a date that does not exist.
bool day_of_date(std::string_view date, long long &day);
// A new secret for a hall that has none yet: 32 random bytes.
std::string fresh_secret();
