#pragma once
// XML of the relay's export and import files: escaping for character data and attribute values, and a
// single-pass reader of a whole document that each backup's reader builds on. The reader takes UTF-8
// without document type declarations, keeps an explicit stack of open elements (no recursion: a document's
// depth costs heap, not stack) and hands elements and their character data to the derived reader, which
// refuses what its format does not hold. Bytes only; a reader belongs to one read; any thread.

#include <cstddef>
#include <string>
#include <utility>
#include <vector>

namespace relay {

// `text` as character data or an attribute value: markup characters escaped, characters XML 1.0
// cannot carry (C0 controls but tab, LF and CR; U+FFFE, U+FFFF) left out. A CR is a reference, as a
// reader turns a literal one into LF; in attributes tab and LF are too, as a reader turns them into spaces.
// The same text serves HTML.
void AppendXmlEscaped(std::string& out, const std::wstring& text, bool attribute);

using XmlAttributes = std::vector<std::pair<std::string, std::string>>;  // names and UTF-8 values

// A name as an error message quotes it: shortened when long.
std::string ShownXmlName(const std::string& name);

class XmlReader {
public:
    virtual ~XmlReader() = default;

    // Reads the whole of `text` (at most `limitBytes`); false with a short reason, and the line where
    // known, in `error`.
    [[nodiscard]] bool Read(const std::string& text, std::size_t limitBytes, std::string& error);

protected:
    // `name` opens inside OpenElements() (empty for the root); false, after Fail, refuses it.
    virtual bool OnOpen(const std::string& name, const XmlAttributes& attributes) = 0;
    // The innermost open element closes (still last in OpenElements()).
    virtual void OnClose() {}
    // Where the innermost open element's character data goes (decoded, appended); null: the element holds
    // white space only.
    virtual std::string* TextTarget() { return nullptr; }
    // What a document without a root element lacks, as "the file holds no <what>".
    virtual const char* DocumentKind() const = 0;

    bool Fail(std::string reason);
    const std::vector<std::string>& OpenElements() const { return m_open; }

private:
    bool At(size_t at, const char* prefix) const;
    void SkipSpace(size_t& at) const;
    bool ReadName(size_t& at, std::string& name) const;
    bool ReadDocument(std::size_t limitBytes);
    bool FailWhole(std::string reason);
    bool CheckCharacters();
    bool ReadAttributes(size_t& at, XmlAttributes& attributes);
    bool ReadDeclaration();
    bool SkipComment();
    bool SkipProcessingInstruction();
    bool ReadText();
    bool Decode(size_t begin, size_t end, bool attribute, std::string& out);
    bool DecodeReference(size_t& at, size_t end, std::string& out);
    bool ReadStartTag();
    bool ReadEndTag();
    bool OpenElement(const std::string& name, const XmlAttributes& attributes);
    bool CloseElement();

    const std::string* m_text = nullptr;
    size_t m_pos = 0;
    std::string m_error;
    size_t m_errorAt = std::string::npos;
    std::vector<std::string> m_open;  // the open elements' names, outermost first
    bool m_rootSeen = false;
};

}  // namespace relay
