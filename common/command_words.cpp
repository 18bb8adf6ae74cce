#include "common/command_words.h"

#include <cctype>

namespace kv {
namespace {

// The value of code letter c, or nullptr when c is no code.
const std::string* CodeValue(const TemplateCodes& codes, char c, bool anyCase) {
    const std::string* value = nullptr;
    for (const auto& [code, v] : codes) {
        bool same = anyCase ? std::toupper(static_cast<unsigned char>(c)) == std::toupper(static_cast<unsigned char>(code))
                            : c == code;
        if (same) value = &v;
    }
    return value;
}

}  // namespace

std::string ExpandTemplate(std::string_view text, const TemplateCodes& codes, bool anyCase) {
    std::string out;
    for (size_t i = 0; i < text.size(); ++i) {
        if (text[i] != '%' || i + 1 == text.size()) {
            out += text[i];
            continue;
        }
        if (const std::string* value = CodeValue(codes, text[i + 1], anyCase)) {
            out += *value;
        } else {
            out += '%';
            out += text[i + 1];
        }
        ++i;
    }
    return out;
}

bool SplitCommandTemplate(std::string_view text, const TemplateCodes& codes, bool anyCase,
                          std::vector<std::string>& words, std::string& why) {
    words.clear();
    std::string word;
    bool inWord = false;  // a word has begun, even if it is still empty ('' or an empty value)
    char quote = 0;       // the open quote, 0 outside quotes
    auto endWord = [&] {
        if (inWord) words.push_back(word);
        word.clear();
        inWord = false;
    };
    for (size_t i = 0; i < text.size(); ++i) {
        char c = text[i];
        if (c == '%' && i + 1 < text.size()) {
            if (const std::string* value = CodeValue(codes, text[i + 1], anyCase)) {
                if (word.empty() && !value->empty() && (*value)[0] == '-') {
                    why = "a value begins with '-': " + *value;
                    return false;
                }
                word += *value;
                inWord = true;
                ++i;
                continue;
            }
        }
        if (quote == '\'') {
            if (c == '\'')
                quote = 0;
            else
                word += c;
        } else if (quote == '"') {
            if (c == '"') {
                quote = 0;
            } else if (c == '\\' && i + 1 < text.size() && std::string_view("\"\\$`").find(text[i + 1]) != std::string_view::npos) {
                word += text[++i];
            } else {
                word += c;
            }
        } else if (c == ' ' || c == '\t') {
            endWord();
        } else {
            inWord = true;
            if (c == '\'' || c == '"')
                quote = c;
            else if (c == '\\' && i + 1 < text.size())
                word += text[++i];
            else
                word += c;
        }
    }
    if (quote != 0) {
        why = std::string("no closing ") + quote;
        return false;
    }
    endWord();
    return true;
}

std::string JoinWords(const std::vector<std::string>& words) {
    std::string out;
    for (const auto& w : words) {
        if (!out.empty()) out += ' ';
        out += w;
    }
    return out;
}

}  // namespace kv
