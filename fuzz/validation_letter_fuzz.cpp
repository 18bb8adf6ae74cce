// kvroster's validation letter: the letter file read into lines and
// posted into the message base, read back.  The first byte picks the
// letter's area.  The lines are the letter's lines up to its last line
// feed (before an end byte), trailing blanks cut, a line longer than the
// limit going on in the next; none holds a line feed.  The message read
// back holds exactly those lines, under the number the post returned.
#include <filesystem>
#include <string>
#include <vector>

#include "common/msg_records.h"
#include "common/msgbase.h"
#include "common/strings.h"
#include "fuzz/fuzz_support.h"
#include "roster/validate.h"

using namespace kv;
using namespace kv::roster;
using kv::fuzz::Check;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    fuzz::InstallFixtureConfig();
    if (size == 0) return 0;
    const int area = data[0] % 101;  // 100 is no area
    std::string_view letter = fuzz::Bytes(data + 1, size - 1);

    std::vector<std::string> want;
    std::string_view text = letter.substr(0, letter.find('\x1a'));
    for (size_t nl; (nl = text.find('\n')) != std::string_view::npos; text.remove_prefix(nl + 1)) {
        std::string line(text.substr(0, nl));
        TrimRight(line);
        do {
            want.push_back(line.substr(0, kLetterLineMax));
            line.erase(0, std::min(line.size(), kLetterLineMax));
        } while (!line.empty());
    }
    std::vector<std::string> lines = LetterLines(letter);
    Check(lines == want, "the letter's lines are not those of the file");

    for (const char* f : {kMsgTextFile, kMsgHeaderFile, kMsgIndexFile, kMsgToIndexFile, kMsgInfoFile})
        std::filesystem::remove(MsgBasePath(f));
    int32_t number = PostLetter("Terry New", "Welcome", area, true, lines);
    Check((number > 0) == (area < 100), "a letter was posted outside the areas, or not posted inside");
    if (number <= 0) return 0;
    MsgHeader h;
    Check(ReadMessageHeader(h, 0), "the posted letter has no header");
    Check(h.MsgNumber == number && h.MsgArea == area && h.ToName == "Terry New", "the header is not the letter's");
    MsgText back;
    Check(ReadMessageText(h.TextOffset, back), "the posted letter has no text");
    Check(back.Lines == lines, "the letter read back is not the letter posted");
    return 0;
}
