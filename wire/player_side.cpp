#include "wire/player_side.h"

namespace qova {

namespace {

// Makes a received text printable in a report: control bytes as \xNN.
std::string shown(const std::string& text) {
  std::string out;
  for (unsigned char c : text.substr(0, 80)) {
    if (c < 32 || c == 127) {
      static const char hex[] = "0123456789abcdef";
      out += "\\x";
      out += hex[c >> 4];
      out += hex[c & 15];
    } else {
      out += static_cast<char>(c);
    }
  }
  if (text.size() > 80) out += "...";
  return "\"" + out + "\"";
}

}  // namespace

void ServerStream::feed(const char* data, size_t size) {
  if (broken()) return;
  buffer_.append(data, size);
}

ServerMessage ServerStream::fail(const std::string& what) {
  violation_ = std::string("in the ") + expectedMessage() + ": " + what;
  buffer_.clear();
  return ServerMessage::kViolation;
}

const char* ServerStream::expectedMessage() const {
  switch (expect_) {
    case Expect::kSettings:
      return "settings";
    case Expect::kQuestion:
      return "question";
    case Expect::kResults:
      return "results";
    case Expect::kSummary:
      return "round summary";
  }
  return "";
}

ServerMessage ServerStream::tooLong() {
  tooLarge_ = true;
  return fail("a message of more than " + std::to_string(maxListBytes_) +
              " bytes, more than the players could fill");
}

bool ServerStream::atMessageBoundary() const {
  // The summary goes out right behind the results of a round's last
  // question, so a close between the two is no boundary.
  return !midMessage() && expect_ != Expect::kSummary;
}

bool ServerStream::hasCompleteLine() const { return !broken() && buffer_.hasCompleteLine(); }

bool ServerStream::midMessage() const { return inMessage_ || !buffer_.empty(); }

ServerMessage ServerStream::next() {
  if (broken()) return ServerMessage::kNone;
  std::string line;
  for (;;) {
    switch (buffer_.take(&line)) {
      case LineBuffer::Take::kNeedMore:
        return ServerMessage::kNone;
      case LineBuffer::Take::kNoLineEnd:
        return fail("more than " + std::to_string(kMaxServerLine) + " bytes without a line end");
      case LineBuffer::Take::kLongLine:
        return fail("a line of " + std::to_string(line.size()) + " bytes, more than the " +
                    std::to_string(kMaxServerLine) + " allowed");
      case LineBuffer::Take::kLine: {
        ServerMessage m = onLine(line);
        if (m != ServerMessage::kNone) return m;
        break;
      }
    }
  }
}

ServerMessage ServerStream::onLine(const std::string& line) {
  if (!inMessage_) {
    inMessage_ = true;
    lines_.clear();
    listBytes_ = 0;
    if (expect_ == Expect::kResults) list_.start(ServerMessage::kResults);
    if (expect_ == Expect::kSummary) list_.start(ServerMessage::kSummary);
  }
  switch (expect_) {
    case Expect::kSettings: {
      lines_.push_back(line);
      if (lines_.size() < 3) return ServerMessage::kNone;
      GameSettings s;
      s.timeLimitText = lines_[0];
      if (!parseCount(lines_[1], &s.questionsPerRound) || s.questionsPerRound < 1) {
        return fail("line 2 (questions per round) is " + shown(lines_[1]) +
                    ", not a positive count");
      }
      if (!parseCount(lines_[2], &s.responseCount) || s.responseCount < 1 ||
          s.responseCount > kMaxResponses) {
        return fail("line 3 (responses per question) is " + shown(lines_[2]) +
                    ", not a count from 1 to " + std::to_string(kMaxResponses));
      }
      settings_ = s;
      inMessage_ = false;
      expect_ = Expect::kQuestion;
      return ServerMessage::kSettings;
    }
    case Expect::kQuestion: {
      lines_.push_back(line);
      size_t total = static_cast<size_t>(settings_.responseCount) + 2;
      if (lines_.size() < total) return ServerMessage::kNone;
      // One character names the correct response; a server sends an empty
      // line for a record whose correct line is empty (none is correct).
      if (line.size() > 1) {
        return fail("line " + std::to_string(total) + " (the correct response) is " + shown(line) +
                    ", not one character");
      }
      question_.text = lines_[0];
      question_.responses.assign(lines_.begin() + 1, lines_.end() - 1);
      question_.correct = line.empty() ? '\0' : line[0];
      question_.round = round_;
      question_.number = ++questionInRound_;
      inMessage_ = false;
      expect_ = Expect::kResults;
      return ServerMessage::kQuestion;
    }
    case Expect::kResults:
    case Expect::kSummary:
      listBytes_ += line.size() + 2;
      if (listBytes_ > maxListBytes_) return tooLong();
      switch (list_.line(line)) {
        case ListReader::Step::kMore:
          return ServerMessage::kNone;
        case ListReader::Step::kViolation:
          return fail(list_.violation());
        case ListReader::Step::kDone:
          break;
      }
      if (expect_ == Expect::kResults) {
        results_ = std::make_shared<const std::vector<ResultEntry>>(std::move(list_.results));
        return listDone(ServerMessage::kResults);
      }
      summary_ = std::make_shared<const std::vector<SummaryEntry>>(std::move(list_.summary));
      return listDone(ServerMessage::kSummary);
  }
  return ServerMessage::kNone;
}

ServerMessage ServerStream::listDone(ServerMessage kind) {
  inMessage_ = false;
  if (kind == ServerMessage::kResults) {
    expect_ =
        questionInRound_ >= settings_.questionsPerRound ? Expect::kSummary : Expect::kQuestion;
  } else {
    expect_ = Expect::kQuestion;
    ++round_;
    questionInRound_ = 0;
  }
  return kind;
}

ServerMessage ServerStream::due() const {
  switch (expect_) {
    case Expect::kSettings:
      return ServerMessage::kSettings;
    case Expect::kQuestion:
      return ServerMessage::kQuestion;
    case Expect::kResults:
      return ServerMessage::kResults;
    case Expect::kSummary:
      return ServerMessage::kSummary;
  }
  return ServerMessage::kNone;
}

template <typename Entry>
ServerMessage ServerStream::take(Expect expect, std::shared_ptr<const std::vector<Entry>>* held,
                                 std::shared_ptr<const std::vector<Entry>> entries,
                                 size_t received) {
  if (broken() || expect_ != expect || inMessage_ || !entries || received > buffer_.size()) {
    return ServerMessage::kNone;
  }
  buffer_.skip(received);
  *held = std::move(entries);
  return listDone(expect == Expect::kResults ? ServerMessage::kResults : ServerMessage::kSummary);
}

ServerMessage ServerStream::takeResults(std::shared_ptr<const std::vector<ResultEntry>> entries,
                                        size_t received) {
  return take(Expect::kResults, &results_, std::move(entries), received);
}

ServerMessage ServerStream::takeSummary(std::shared_ptr<const std::vector<SummaryEntry>> entries,
                                        size_t received) {
  return take(Expect::kSummary, &summary_, std::move(entries), received);
}

ServerMessage ServerStream::failTooLarge() {
  if (broken() || (expect_ != Expect::kResults && expect_ != Expect::kSummary)) {
    return ServerMessage::kNone;
  }
  return tooLong();
}

void ListReader::start(ServerMessage kind) {
  kind_ = kind;
  lines_.clear();
  results.clear();
  summary.clear();
  violation_.clear();
}

ListReader::Step ListReader::fail(const std::string& what) {
  violation_ = what;
  return Step::kViolation;
}

ListReader::Step ListReader::line(const std::string& line) {
  if (lines_.empty() && line.empty()) return Step::kDone;
  lines_.push_back(line);
  if (kind_ == ServerMessage::kSummary) return summaryEntry();
  if (lines_.size() < 3) return Step::kMore;
  if (line != "r" && line != "w") {
    return fail("player " + std::to_string(results.size() + 1) + " (" + shown(lines_[0]) +
                "): the verdict line is " + shown(line) + ", not \"r\" or \"w\"");
  }
  if (results.size() >= kMaxListedPlayers) {
    return fail("more than " + std::to_string(kMaxListedPlayers) + " players");
  }
  results.push_back(ResultEntry{lines_[0], lines_[1], line == "r"});
  lines_.clear();
  return Step::kMore;
}

ListReader::Step ListReader::summaryEntry() {
  if (lines_.size() < 7) return Step::kMore;
  std::string who =
      "player " + std::to_string(summary.size() + 1) + " (" + shown(lines_[0]) + "): ";
  static const char* const kLineNames[] = {"",
                                           "correct in the round",
                                           "average time in the round",
                                           "answers in the round",
                                           "correct overall",
                                           "average time overall",
                                           "answers overall"};
  SummaryEntry e;
  e.name = lines_[0];
  int* counts[] = {nullptr,         &e.roundCorrect, nullptr,        &e.roundAnswers,
                   &e.totalCorrect, nullptr,         &e.totalAnswers};
  for (int i = 1; i < 7; ++i) {
    bool ok = counts[i] ? parseCount(lines_[i], counts[i]) : isAverageText(lines_[i]);
    if (!ok) {
      return fail(who + "line " + std::to_string(i + 1) + " (" + kLineNames[i] + ") is " +
                  shown(lines_[i]) + (counts[i] ? ", not a count" : ", not an average"));
    }
  }
  e.roundAverage = lines_[2];
  e.totalAverage = lines_[5];
  if (e.roundCorrect > e.roundAnswers || e.totalCorrect > e.totalAnswers ||
      e.roundAnswers > e.totalAnswers || e.roundCorrect > e.totalCorrect) {
    return fail(who + "the counts " + std::to_string(e.roundCorrect) + "/" +
                std::to_string(e.roundAnswers) + " in the round and " +
                std::to_string(e.totalCorrect) + "/" + std::to_string(e.totalAnswers) +
                " overall contradict each other");
  }
  if (summary.size() >= kMaxListedPlayers) {
    return fail("more than " + std::to_string(kMaxListedPlayers) + " players");
  }
  summary.push_back(e);
  lines_.clear();
  return Step::kMore;
}

std::string answerMessage(const std::string& timeText, bool correct) {
  return timeText + "\r\n" + (correct ? "r" : "w");
}

std::string nameMessage(const std::string& name) { return name + "\r\n"; }

std::string secondsText(double seconds) {
  if (!(seconds > 0)) seconds = 0;
  if (seconds > 1e9) seconds = 1e9;
  long long hundredths = static_cast<long long>(seconds * 100 + 0.5);
  std::string cents = std::to_string(hundredths % 100);
  if (cents.size() < 2) cents = "0" + cents;
  return std::to_string(hundredths / 100) + "." + cents;
}

}  // namespace qova
