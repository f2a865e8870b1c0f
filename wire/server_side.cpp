#include "wire/server_side.h"

#include "common/number_format.h"

namespace qova {

RoundTotals roundTotals(const PlayerRecord& player) {
  RoundTotals t;
  float roundSum = 0, totalSum = 0;
  for (size_t r = 0; r < player.rounds.size(); ++r) {
    bool last = r + 1 == player.rounds.size();
    for (const Response& response : player.rounds[r]) {
      float seconds = static_cast<float>(parseDecimal(response.timeText));
      totalSum += seconds;
      ++t.totalAnswers;
      if (response.correct) ++t.totalCorrect;
      if (last) {
        roundSum += seconds;
        ++t.roundAnswers;
        if (response.correct) ++t.roundCorrect;
      }
    }
  }
  t.roundAverage = roundSum / static_cast<float>(t.roundAnswers);
  t.totalAverage = totalSum / static_cast<float>(t.totalAnswers);
  return t;
}

std::string settingsMessage(const std::string& timeLimitText, int32_t questionsPerRound,
                            int32_t responseCount) {
  std::string out;
  appendLine(out, timeLimitText);
  appendLine(out, std::to_string(questionsPerRound));
  appendLine(out, std::to_string(responseCount));
  return out;
}

std::string questionMessage(const ServerQuestionRecord& question) {
  std::string out;
  appendLine(out, question.question);
  for (const std::string& response : question.responses) appendLine(out, response);
  // An empty correct line in the file is passed on as an empty line rather
  // than as a NUL byte.
  if (question.correct != '\0') out += question.correct;
  out += "\r\n";
  return out;
}

std::string resultLineBlock(const PlayerRecord& player) {
  const Response& last = player.rounds.back().back();
  std::string out;
  appendLine(out, player.name);
  appendLine(out, last.timeText);
  appendLine(out, last.correct ? "r" : "w");
  return out;
}

std::string roundSummaryBlock(const PlayerRecord& player, const RoundTotals& t) {
  std::string out;
  appendLine(out, player.name);
  appendLine(out, std::to_string(t.roundCorrect));
  appendLine(out, averageText(t.roundAverage));
  appendLine(out, std::to_string(t.roundAnswers));
  appendLine(out, std::to_string(t.totalCorrect));
  appendLine(out, averageText(t.totalAverage));
  appendLine(out, std::to_string(t.totalAnswers));
  return out;
}

NameReader::Status NameReader::feed(const char* data, size_t size) {
  text_.append(data, size);
  std::string line;
  switch (text_.take(&line)) {
    case LineBuffer::Take::kNeedMore:
      return Status::kPending;
    case LineBuffer::Take::kLine:
      name_ = line;
      text_.clear();
      return Status::kNamed;
    case LineBuffer::Take::kLongLine:
    case LineBuffer::Take::kNoLineEnd:
      break;
  }
  return Status::kTooLong;
}

AnswerReader::Status AnswerReader::feed(const char* data, size_t size) {
  received_.append(data, size);
  return status();
}

AnswerReader::Status AnswerReader::dropAnswer() {
  size_t end = received_.lineEnd();
  if (end == std::string::npos || received_.size() < end + 3) return status();
  std::string rest(received_.data() + end + 3, received_.size() - end - 3);
  received_.clear();
  received_.append(rest.data(), rest.size());
  return status();
}

AnswerReader::Status AnswerReader::status() {
  size_t end = received_.lineEnd();
  if (end != std::string::npos && received_.size() >= end + 3) return Status::kComplete;
  // The time line, CR LF and verdict of a real answer are a few bytes; a
  // stream that runs past the bound is not a player program.
  return received_.size() <= kMaxAnswerBytes ? Status::kPending : Status::kTooLong;
}

Response AnswerReader::answer() const {
  std::string bytes = received();
  Response response;
  size_t end = bytes.find("\r\n");
  response.timeText = bytes.substr(0, end);
  response.correct = end + 2 < bytes.size() && bytes[end + 2] == 'r';
  return response;
}

}  // namespace qova
