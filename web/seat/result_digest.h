// What a page or a room screen shows of a question's results and of a
// round's standings, worked out once per message the server sent and shared
// by every seat and screen: how many players were right out of how many,
// the fastest right answers, the top of the standings, and an index that
// finds one player's own row without going through every row. Everything a
// page is sent is bounded by the constants below, whatever the room's size;
// the full rows stay here for the pages that ask for them.
#pragma once

#include <memory>
#include <string>
#include <unordered_map>
#include <vector>

#include "wire/player_side.h"
#include "wire/standings.h"

namespace qova::web {

// Rooms of at most this many players get every row inline.
constexpr int kInlineRows = 40;
// Fastest right answers shown after a question in a larger room.
constexpr int kFastestRows = 5;
// Rows of the standings shown after a round in a larger room.
constexpr int kTopRows = 10;

// A question's results as the server sent them (server order).
struct ResultDigest {
  std::shared_ptr<const std::vector<ResultEntry>> entries;
  int players = 0;  // rows in the results
  int right = 0;    // rows with a right answer
  // Right rows, fastest first (by time; equal times in the server's order),
  // at most kFastestRows.
  std::vector<int> fastest;
  // The rows a phone shows: every row (server order) when there are at most
  // kInlineRows, else `fastest`.
  std::vector<int> shown;
  bool inline_all = false;  // shown holds every row
  // The rows of each name (wire form), in server order.
  std::unordered_map<std::string, std::vector<int>> rowsByName;
};

ResultDigest digestResults(std::shared_ptr<const std::vector<ResultEntry>> entries);

// The index of the row `name` got for `sent`, -1 when there is none.
int ownResultRow(const ResultDigest& digest, const std::string& name, const SentAnswer& sent);

// A round's summary in leaderboard order with its places.
struct StandingsDigest {
  std::vector<SummaryEntry> order;  // leaderboard order
  std::vector<int> places;          // places[i]: 1-based place of order[i], ties shared
  int players = 0;
  // Rows a phone shows: all of them up to kInlineRows, else the top kTopRows
  // (always a prefix of `order`).
  int shown = 0;
  // The rows (indices into `order`) of each name.
  std::unordered_map<std::string, std::vector<int>> rowsByName;
};

StandingsDigest digestStandings(const std::vector<SummaryEntry>& summary);

// The index into `order` of the row with `name` and the counts of `tally`,
// -1 when there is none.
int ownStandingRow(const StandingsDigest& digest, const std::string& name,
                   const AnswerTally& tally);

}  // namespace qova::web
