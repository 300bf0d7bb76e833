// The last few answers, by the request that asked for them, so that a view asked for again (a
// drag back, a pan that lands on the same bins, the back button) is sent without being computed.
#pragma once

#include <cstddef>
#include <list>
#include <memory>
#include <mutex>
#include <string>
#include <utility>

namespace zel_server {

// At most `entries` answers of `bytes` in total; the least recently used goes first. Safe to call
// from many threads.
class AnswerCache {
 public:
  AnswerCache(std::size_t entries, std::size_t bytes) : entries_(entries), bytes_(bytes) {}

  // The answer to `key`, or null.
  std::shared_ptr<const std::string> find(const std::string& key) {
    const std::lock_guard lock(mutex_);
    for (auto at = answers_.begin(); at != answers_.end(); ++at) {
      if (at->first != key) continue;
      answers_.splice(answers_.begin(), answers_, at);
      return answers_.front().second;
    }
    return nullptr;
  }

  // Keeps `answer` to `key` (an answer larger than the whole cache is not kept).
  void add(std::string key, std::shared_ptr<const std::string> answer) {
    if (answer->size() > bytes_) return;
    const std::lock_guard lock(mutex_);
    for (auto at = answers_.begin(); at != answers_.end(); ++at) {
      if (at->first == key) {
        held_ -= at->second->size();
        answers_.erase(at);
        break;
      }
    }
    held_ += answer->size();
    answers_.emplace_front(std::move(key), std::move(answer));
    while (answers_.size() > entries_ || held_ > bytes_) {
      held_ -= answers_.back().second->size();
      answers_.pop_back();
    }
  }

 private:
  std::size_t entries_;
  std::size_t bytes_;
  std::mutex mutex_;
  std::size_t held_ = 0;
  std::list<std::pair<std::string, std::shared_ptr<const std::string>>> answers_;
};

}  // namespace zel_server
