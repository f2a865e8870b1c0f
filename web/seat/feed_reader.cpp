#include "web/seat/feed_reader.h"

#include <cstring>

#include "wire/wire.h"

namespace qova::web {

namespace {

std::vector<std::string> splitTabs(const std::string& line) {
  std::vector<std::string> fields;
  size_t from = 0;
  for (;;) {
    size_t tab = line.find('\t', from);
    if (tab == std::string::npos) {
      fields.push_back(line.substr(from));
      return fields;
    }
    fields.push_back(line.substr(from, tab - from));
    from = tab + 1;
  }
}

// A count as the server writes them, at least `least`.
bool countField(const std::string& text, int least, int* value) {
  return parseCount(text, value) && *value >= least;
}

}  // namespace

size_t maxFeedJoinLine() { return kMaxNameBytes + 32; }

size_t maxFeedQuestionLine() {
  return (static_cast<size_t>(kMaxResponses) + 2) * (kMaxServerLine + 1) + kMaxFeedShortLine;
}

size_t maxFeedResultRow() { return kMaxAnswerBytes + 32; }

bool FeedReader::fail(std::string why) {
  error_ = std::move(why);
  pending_.clear();
  pending_.shrink_to_fit();
  list_ = FeedMessage();
  return false;
}

// The most a line may hold, as far as its beginning tells: rows by their
// message, other lines by the name in their first field.
size_t FeedReader::lineBound() const {
  if (!greeted_) return kMaxFeedShortLine;
  if (rowsLeft_ > 0) {
    return list_.kind == FeedKind::kResults ? maxFeedResultRow() : kMaxFeedShortLine;
  }
  auto starts = [this](const char* name) {
    size_t n = std::strlen(name);
    return pending_.size() > n && pending_.compare(0, n, name) == 0 && pending_[n] == '\t';
  };
  if (starts("QUESTION")) return maxFeedQuestionLine();
  if (starts("JOIN")) return maxFeedJoinLine();
  return kMaxFeedShortLine;
}

bool FeedReader::feed(const char* data, size_t n, std::vector<FeedMessage>* out) {
  if (broken()) return false;
  while (n > 0) {
    // Take bytes up to the next LF at most, so that a line is checked
    // against its bound before more of it is held.
    const void* lf = std::memchr(data, '\n', n);
    size_t take = lf ? static_cast<size_t>(static_cast<const char*>(lf) - data) + 1 : n;
    pending_.append(data, take);
    data += take;
    n -= take;
    size_t end = pending_.size();
    bool whole = end >= 2 && pending_[end - 1] == '\n' && pending_[end - 2] == '\r';
    if (!whole) {
      // A lone LF (or CR) is part of a line's text.
      if (pending_.size() > lineBound() + 2) {
        return fail("a feed line longer than its bound (" + std::to_string(lineBound()) +
                    " bytes)");
      }
      continue;
    }
    pending_.resize(end - 2);
    if (pending_.size() > lineBound()) {
      return fail("a feed line longer than its bound (" + std::to_string(lineBound()) + " bytes)");
    }
    std::string text;
    text.swap(pending_);
    if (!line(std::move(text), out)) return false;
  }
  return true;
}

bool FeedReader::line(std::string text, std::vector<FeedMessage>* out) {
  if (!greeted_) {
    std::string greeting(kRoomFeedGreeting, std::strlen(kRoomFeedGreeting) - 2);
    if (text != greeting) return fail("the server's first line is not the room feed's greeting");
    greeted_ = true;
    return true;
  }
  std::vector<std::string> fields = splitTabs(text);
  if (rowsLeft_ > 0) return row(fields, out);
  return message(fields, out);
}

bool FeedReader::message(const std::vector<std::string>& f, std::vector<FeedMessage>* out) {
  const std::string& name = f[0];
  size_t args = f.size() - 1;
  FeedMessage m;
  auto bad = [&](const char* what) { return fail(name + ": " + what); };
  // Answers to this client's commands may come whenever one is due.
  if (name == "DONE" || name == "REFUSED") {
    bool done = name == "DONE";
    m.kind = done ? FeedKind::kDone : FeedKind::kRefused;
    if (args != (done ? 1u : 2u)) return bad(done ? "not 1 field" : "not 2 fields");
    if (f[1].empty() || f[1].size() > 9 || !countField(f[1], 1, &m.tag)) return bad("tag");
    if (!done) {
      if (f[2].empty()) return bad("no reason");
      m.reason = f[2];
    }
    out->push_back(std::move(m));
    return true;
  }
  if (ended_) return fail(name + " after END");
  if (!settled_ && name != "SETTINGS") return fail(name + " before SETTINGS");
  if (name == "SETTINGS") {
    if (settled_) return bad("sent twice");
    m.kind = FeedKind::kSettings;
    if (args != 3) return bad("not 3 fields");
    m.timeLimitText = f[1];
    if (!countField(f[2], 1, &m.questionsPerRound)) return bad("questions per round");
    if (!countField(f[3], 1, &m.responseCount) || m.responseCount > kMaxResponses) {
      return bad("responses per question");
    }
    settled_ = true;
    responseCount_ = m.responseCount;
  } else if (name == "JOIN") {
    m.kind = FeedKind::kJoin;
    if (args != 2) return bad("not 2 fields");
    if (!countField(f[1], 1, &m.player)) return bad("player number");
    if (f[2].empty() || f[2].size() > kMaxNameBytes) return bad("name");
    m.name = f[2];
  } else if (name == "DROP" || name == "REMOVE") {
    m.kind = name == "DROP" ? FeedKind::kDrop : FeedKind::kRemove;
    if (args != 1) return bad("not 1 field");
    if (!countField(f[1], 1, &m.player)) return bad("player number");
  } else if (name == "START") {
    m.kind = FeedKind::kStart;
    if (args != 1 || !countField(f[1], 0, &m.count)) return bad("player count");
  } else if (name == "QUESTION") {
    m.kind = FeedKind::kQuestion;
    if (args != 5 + static_cast<size_t>(responseCount_)) {
      return bad("not 5 fields and the settings' responses");
    }
    if (!countField(f[1], 1, &m.round)) return bad("round");
    if (!countField(f[3], 1, &m.questionsPerRound)) return bad("questions per round");
    if (!countField(f[2], 1, &m.number) || m.number > m.questionsPerRound) {
      return bad("number in the round");
    }
    m.timeLimitText = f[4];
    m.text = f[5];
    m.responses.assign(f.begin() + 6, f.end());
  } else if (name == "ANSWERS") {
    m.kind = FeedKind::kAnswers;
    if (args != 2 || !countField(f[1], 0, &m.received) || !countField(f[2], 0, &m.awaited)) {
      return bad("counts");
    }
  } else if (name == "RESULTS" || name == "SUMMARY") {
    bool results = name == "RESULTS";
    m.kind = results ? FeedKind::kResults : FeedKind::kSummary;
    if (args != 2) return bad("not 2 fields");
    if (results) {
      // The correct response's number; empty or 0 when the question names
      // none (a number past the responses names none either).
      if (f[1].empty()) {
        m.correct = 0;
      } else if (!countField(f[1], 0, &m.correct)) {
        return bad("correct response");
      }
      if (m.correct > responseCount_) m.correct = 0;
    } else if (!countField(f[1], 1, &m.round)) {
      return bad("round");
    }
    if (!countField(f[2], 0, &m.count) || static_cast<size_t>(m.count) > kMaxListedPlayers) {
      return bad("player count");
    }
    if (m.count == 0) {
      out->push_back(std::move(m));
      return true;
    }
    if (results) {
      m.results.reserve(static_cast<size_t>(m.count));
    } else {
      m.summary.reserve(static_cast<size_t>(m.count));
    }
    list_ = std::move(m);
    rowsLeft_ = static_cast<size_t>(list_.count);
    return true;
  } else if (name == "HOLD") {
    m.kind = FeedKind::kHold;
    auto flag = [&](const std::string& t, bool* v) {
      if (t != "0" && t != "1") return false;
      *v = t == "1";
      return true;
    };
    if (args != 2 || !flag(f[1], &m.held) || !flag(f[2], &m.holdAfterRound)) {
      return bad("not two flags");
    }
  } else if (name == "END") {
    m.kind = FeedKind::kEnd;
    if (args != 0) return bad("fields after END");
    ended_ = true;
  } else {
    return fail("an unknown feed message");
  }
  out->push_back(std::move(m));
  return true;
}

bool FeedReader::row(const std::vector<std::string>& f, std::vector<FeedMessage>* out) {
  if (list_.kind == FeedKind::kResults) {
    FeedResultRow r;
    if (f.size() != 3 || !countField(f[0], 1, &r.player) || f[1].empty() ||
        f[1].size() >= kMaxAnswerBytes || (f[2] != "r" && f[2] != "w")) {
      return fail("RESULTS: a malformed row");
    }
    r.timeText = f[1];
    r.right = f[2] == "r";
    list_.results.push_back(std::move(r));
  } else {
    FeedSummaryRow r;
    if (f.size() != 7 || !countField(f[0], 1, &r.player) || !countField(f[1], 0, &r.roundRight) ||
        !isAverageText(f[2]) || !countField(f[3], 0, &r.roundAnswers) ||
        !countField(f[4], 0, &r.totalRight) || !isAverageText(f[5]) ||
        !countField(f[6], 0, &r.totalAnswers) || r.roundRight > r.roundAnswers ||
        r.totalRight > r.totalAnswers) {
      return fail("SUMMARY: a malformed row");
    }
    r.roundAverage = f[2];
    r.totalAverage = f[5];
    list_.summary.push_back(std::move(r));
  }
  if (--rowsLeft_ == 0) {
    out->push_back(std::move(list_));
    list_ = FeedMessage();
  }
  return true;
}

}  // namespace qova::web
