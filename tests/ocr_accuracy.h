// Word accuracy of recognised text against the prose the virtual scanner
// prints (sources/virtual/pages/text.cpp): the recognised words are aligned
// with the printed ones (longest common subsequence), and the accuracy is
// the share of printed words, from the first matched to the last, that were
// read exactly. The prose repeats from its first paragraph until the page is
// full, so the truth is that sequence, long enough for any page.
#pragma once
#include <algorithm>
#include <cctype>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

namespace ocr_accuracy {

// The words of `text`, punctuation cut from both ends of each.
inline std::vector<std::string> words_of(const std::string& text) {
  std::vector<std::string> out;
  std::istringstream in(text);
  std::string w;
  auto punct = [](char c) { return std::ispunct(static_cast<unsigned char>(c)) != 0; };
  while (in >> w) {
    while (!w.empty() && punct(w.back())) w.pop_back();
    std::size_t i = 0;
    while (i < w.size() && punct(w[i])) ++i;
    if (i < w.size()) out.push_back(w.substr(i));
  }
  return out;
}

// The paragraphs of the page prose as the source file holds them: the
// string literals of its initializer, a comma between paragraphs.
inline std::vector<std::string> paragraphs_in_source(const std::string& path) {
  std::ifstream in(path);
  std::stringstream s;
  s << in.rdbuf();
  const std::string src = s.str();
  std::vector<std::string> paragraphs;
  std::string current;
  std::size_t at = src.find("kParagraphs = {");
  const std::size_t end = src.find("};", at);
  for (std::size_t i = at == std::string::npos ? src.size() : at; i < end && i < src.size(); ++i) {
    if (src[i] == '"') {
      const std::size_t close = src.find('"', i + 1);
      current += src.substr(i + 1, close - i - 1);
      i = close;
    } else if (src[i] == ',' && !current.empty()) {
      paragraphs.push_back(current);
      current.clear();
    }
  }
  if (!current.empty()) paragraphs.push_back(current);
  return paragraphs;
}

// The printed words in order: the paragraphs `repeats` times over.
inline std::vector<std::string> truth_words(const std::vector<std::string>& paragraphs, int repeats = 3) {
  std::vector<std::string> out;
  for (int r = 0; r < repeats; ++r)
    for (const std::string& p : paragraphs)
      for (std::string& w : words_of(p)) out.push_back(std::move(w));
  return out;
}

struct Accuracy {
  int matched = 0;  // printed words read exactly
  int span = 0;     // printed words from the first matched to the last
  double value() const { return span > 0 ? double(matched) / span : 0.0; }
};

inline Accuracy word_accuracy(const std::vector<std::string>& read, const std::vector<std::string>& truth) {
  const std::size_t n = read.size(), m = truth.size();
  // lcs[i][j]: longest common subsequence of read[i..] and truth[j..].
  std::vector<std::vector<int>> lcs(n + 1, std::vector<int>(m + 1, 0));
  for (std::size_t i = n; i-- > 0;)
    for (std::size_t j = m; j-- > 0;)
      lcs[i][j] = read[i] == truth[j] ? lcs[i + 1][j + 1] + 1 : std::max(lcs[i + 1][j], lcs[i][j + 1]);
  Accuracy a;
  int first = -1, last = -1;
  for (std::size_t i = 0, j = 0; i < n && j < m;) {
    if (read[i] == truth[j] && lcs[i][j] == lcs[i + 1][j + 1] + 1) {
      if (first < 0) first = int(j);
      last = int(j);
      ++a.matched, ++i, ++j;
    } else if (lcs[i + 1][j] >= lcs[i][j + 1]) {
      ++i;
    } else {
      ++j;
    }
  }
  a.span = first < 0 ? 0 : last - first + 1;
  return a;
}

}  // namespace ocr_accuracy
