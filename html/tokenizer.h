#pragma once

#include <algorithm>
#include <cstdint>

#include "html/attr_name_index.h"
#include "html/browser_rules.h"
#include "html/code_points.h"
#include "html/consumer.h"
#include "html/handler.h"
#include "html/run_scan.h"

namespace Tessarin {

class FeedInputStream;

namespace Unicode {
class HeldCodePoints;
}  // namespace Unicode

namespace Html {

// The HTML tokenizer: a state machine over the code points of an InputConsumer
// that reports every token to a Handler the moment it is recognised.
//
// Each state is one member function, preceded by the name of the state it
// mirrors, that consumes a code point and acts on it as its table says. Where
// a table leaves the order of effects free, a case runs them in one fixed
// order: parse error, buffer change, state switch, emit. That order keeps
// parse errors and tokens in sequence; the helpers that end a token at the end
// of input leave the parse error to the case for that reason. A code point is
// put back only by Reconsume, with the state that reads it next.
//
// The tokenizer throws nothing. A token buffer that cannot grow sets a sticky
// out-of-memory flag that ends tokenizing (Tokenize returns false).
class Tokenizer {
 public:
  explicit Tokenizer(InputConsumer& consumer);
  // Releases the heap storage of a token still under construction (one
  // abandoned by an interrupted parse or a failed allocation).
  ~Tokenizer();
  Tokenizer(const Tokenizer&) = delete;
  Tokenizer& operator=(const Tokenizer&) = delete;

  void SetHandler(Handler& h);
  // Runs the current state once; true until the end-of-file token has been
  // reported (or memory ran out).
  bool Tokenize();
  // Runs up to about `steps` state steps, as many Tokenize calls would, and
  // returns what the last of them would have returned. It also returns early
  // when a handler calls Interrupt. Runs of ordinary code points in text, tag
  // and attribute names, attribute values and comments take a fast path that
  // skips the dispatch per code point, and so do tags of the common shape.
  bool Run(unsigned long steps);
  // Incremental input: runs as Run does over the bytes appended to `input` so
  // far, but stops before a step that could read past them, so that no step
  // takes their end for the end of the input, or a sequence cut short there
  // for a whole one. Returns false when it stopped for that reason (or memory
  // ran out), true when the budget ran out or a handler interrupted it. The
  // consumer reads `input`, directly or through a BlockOnlyStream.
  bool RunFed(unsigned long steps, const FeedInputStream& input);
  // The most code points a step looks at, besides the two runs a step reads to
  // their end: the letters and digits of a character reference and the text
  // of a bogus comment. Resolving a named reference peeks at a longest name
  // and the code point after it.
  static constexpr size_t kLongestLookAhead = InputConsumer::kNamedRefLookAhead;
  // Ends the current Run after the callback that calls it.
  void Interrupt() { interrupted = true; }
  // Called by a handler during OnStartTag to acknowledge the self-closing flag.
  void Acknowledge() { acknowledged = true; }
  bool OutOfMemory() const { return outOfMemory; }
  // Reports a parse error, with its position when the consumer tracks
  // positions; `ahead` code points not yet read belong before it. Out of line
  // and cold: the common rows of the states that report one then need no
  // registers saved for it.
  __attribute__((noinline, cold)) void ParseError(ParseErrorCode code, size_t ahead = 0) {
    handler->OnCodedParseError(code, ErrorPlace(code, ahead));
  }

  // The source of the token being reported, as byte offsets into the input:
  // from the end of the previous token, so that the tokens tile the input
  // (what reports no token, such as "</>" or the brackets of a CDATA
  // section, belongs to the next one), to the end of this one. Characters
  // reported together (the two of a reference, or "</" and a name in text)
  // have the span of them all in the first and an empty one in the others.
  // During a parse error, the source read since the previous token.
  struct span_t {
    uint64_t start;
    uint64_t end;
  };
  span_t CurrentSpan() const { return {tokenStart, blockEnd ? blockEnd : consumer.Offset()}; }
  // During OnText, where its first character begins: from there on, each
  // character of the block is one code point of the input.
  uint64_t TextStart() const { return textStart; }

  // Content models. By default every document is tokenized from the data
  // state and "<![CDATA[" opens a bogus comment; the switches a tree builder
  // makes come from these calls.
  //
  // Switches to the state that tokenizes `text`: before tokenizing, or from
  // OnStartTag, never while another token is under construction. From
  // OnStartTag, for RCDATA, RAWTEXT or script data, the tag being reported
  // becomes the one whose end tag ends the text; before tokenizing, that is
  // the one set by SetLastStartTag (none by default).
  void SetContentModel(TextState text);
  // Whether "<![CDATA[" opens a CDATA section: the current node of the tree is
  // foreign content (SVG or MathML).
  void AllowCdata(bool allow) { cdataAllowed = allow; }
  // The start tag whose end tag ends a text that tokenizing starts in.
  void SetLastStartTag(const unsigned int* name, unsigned long length);
  // Switches as a browser's tree builder would after each tag (BrowserRules).
  void FollowBrowserRules(bool scripting);

 private:
  using State = void (Tokenizer::*)();
  using FastPath = unsigned long (Tokenizer::*)(unsigned long budget);

  // Run's fast paths, for the states that spend most of their steps on code
  // points their table sends to its last row, "anything else": a run of such
  // code points is consumed at once, each counted as one step, with the
  // effects of that row, and the state stays as it is. A state XState with a
  // fast path has a member XRun(budget), defined beside the state with its
  // stop set (the code points with a row of their own; a tag's states share
  // theirs in tag_stops.h). It consumes up to `budget` code points and returns
  // how many it consumed. The runs are kept out of line: inlined into the loop
  // they run short of registers and take more instructions. The tag open
  // state's fast path reads a whole tag instead, through the rows its states
  // take for the common tags.
  template <bool Feeding>
  bool RunSteps(unsigned long steps);
  // The fast path of state S, or null: kFastPathOf<&Tokenizer::XState> is
  // &Tokenizer::XRun for each state that has one (see the end of this file).
  // Every switch of state sets the fast path with it (see SwitchTo), so that
  // the loop calls it without comparing states.
  template <State S>
  static constexpr FastPath kFastPathOf = nullptr;
  // The same for a state held in a variable: the states that have a fast
  // path are compared with it in turn, the text states last.
  static FastPath FastPathOf(State s) {
    return FindFastPath<
        &Tokenizer::DataState, &Tokenizer::TagOpenState, &Tokenizer::AttributeValueDoubleQuotedState,
        &Tokenizer::AttributeNameState, &Tokenizer::TagNameState, &Tokenizer::AttributeValueSingleQuotedState,
        &Tokenizer::AttributeValueUnquotedState, &Tokenizer::CommentState, &Tokenizer::ScriptDataState,
        &Tokenizer::RawtextState, &Tokenizer::RcdataState, &Tokenizer::ScriptDataEscapedState,
        &Tokenizer::ScriptDataDoubleEscapedState, &Tokenizer::PlaintextState, &Tokenizer::CdataSectionState>(s);
  }
  template <State... WithFastPath>
  static FastPath FindFastPath(State s) {
    FastPath run = nullptr;
    (void)((s == WithFastPath && (run = kFastPathOf<WithFastPath>, true)) || ...);
    return run;
  }
  // The loop of every fast path: consumes up to `budget` code points of the
  // consumer's ASCII window that are not among `stops`, with the same results
  // as consuming them one at a time, and returns how many it consumed. They
  // are stored at `out`, lowered if Lower, up to `end`; where out reaches end,
  // makeRoom is called before the next one is stored, with the number of bytes
  // the run has read, and it moves out and end or returns false to end the run. The run also ends at the end of the
  // window and before a sequence that the window does not hold whole; whatever it stops at stays unread. The window is
  // advanced once, when the run ends: makeRoom must not read input.
  //
  // With SSE2, 16 bytes are tested at once and stored widened as they are
  // tested, wherever the window, the budget and the room hold 16 more, except
  // in names (see ConsumeRun).
  template <bool Lower, typename MakeRoom>
  __attribute__((always_inline)) unsigned long ConsumeRun(const run_stops_t& stops, unsigned long budget,
                                                          unsigned int*& out, unsigned int*& end, MakeRoom&& makeRoom);
  // Fast paths of the text states: the characters reach the handler in blocks.
  // Inlined into each of them, since a call per run costs more than the copy.
  __attribute__((always_inline)) unsigned long EmitTextRun(const run_stops_t& stops, unsigned long budget);
  // Fast paths of the states that build a token: the code points are appended
  // to `buffer`, lowered if Lower.
  template <bool Lower, typename Buffer>
  __attribute__((always_inline)) unsigned long AppendRun(Buffer& buffer, const run_stops_t& stops,
                                                         unsigned long budget);
  template <bool Lower, typename Buffer>
  __attribute__((always_inline)) unsigned long ContinueAppendRun(Buffer& buffer, const run_stops_t& stops,
                                                                 unsigned long budget);
  // AppendRun to the attribute value; the value state stores itself as returnState.
  __attribute__((always_inline)) unsigned long AppendValueRun(const run_stops_t& stops, unsigned long budget);

  // Feeding: whether the bytes appended so far hold everything the next step
  // may read (see RunFed).
  bool NextStepHeld();
  // The character reference states read a reference whole: "#" if it is
  // there, the letters and digits after it and the code point that ends them.
  bool CharRefHeld(Unicode::HeldCodePoints& ahead);
  // Whether a code point for which `ends` holds is held, the code points
  // before it being read by the same step. A run that is not held yet is
  // looked at again from where this look stopped, so that feeding a long run
  // in small pieces stays linear.
  template <typename Ends>
  bool RunEndHeld(Unicode::HeldCodePoints& ahead, Ends ends);

  // Data state and character references in text.
  void DataState();
  __attribute__((noinline)) unsigned long DataRun(unsigned long budget);
  void CharacterReferenceInDataState();
  // Consumes a reference after "&" in text and emits what it stands for, or
  // "&"; tokenizing goes on in Text.
  template <State Text>
  void EmitCharRefInText();

  // RCDATA, RAWTEXT and PLAINTEXT.
  void RcdataState();
  __attribute__((noinline)) unsigned long RcdataRun(unsigned long budget);
  void CharacterReferenceInRcdataState();
  void RcdataLessThanSignState();
  void RcdataEndTagOpenState();
  void RcdataEndTagNameState();
  void RawtextState();
  __attribute__((noinline)) unsigned long RawtextRun(unsigned long budget);
  void RawtextLessThanSignState();
  void RawtextEndTagOpenState();
  void RawtextEndTagNameState();
  void PlaintextState();
  __attribute__((noinline)) unsigned long PlaintextRun(unsigned long budget);
  // The bodies shared by the text states that an appropriate end tag ends.
  void RawText(State lessThanSign);
  void TextLessThanSign(State text, State endTagOpen);
  void TextEndTagOpen(State text, State endTagName);
  void TextEndTagName(State text);
  // Whether the temporary buffer names the last start tag; if it does, the
  // end tag token is begun with that name.
  bool BeginAppropriateEndTag();
  // Emits "</" and the temporary buffer as characters.
  void EmitEndTagAsText();

  // Script data.
  void ScriptDataState();
  __attribute__((noinline)) unsigned long ScriptDataRun(unsigned long budget);
  void ScriptDataLessThanSignState();
  void ScriptDataEndTagOpenState();
  void ScriptDataEndTagNameState();
  void ScriptDataEscapeStartState();
  void ScriptDataEscapeStartDashState();
  void ScriptDataEscapedState();
  __attribute__((noinline)) unsigned long ScriptDataEscapedRun(unsigned long budget);
  void ScriptDataEscapedDashState();
  void ScriptDataEscapedDashDashState();
  void ScriptDataEscapedLessThanSignState();
  void ScriptDataEscapedEndTagOpenState();
  void ScriptDataEscapedEndTagNameState();
  void ScriptDataDoubleEscapeStartState();
  void ScriptDataDoubleEscapedState();
  __attribute__((noinline)) unsigned long ScriptDataDoubleEscapedRun(unsigned long budget);
  void ScriptDataDoubleEscapedDashState();
  void ScriptDataDoubleEscapedDashDashState();
  void ScriptDataDoubleEscapedLessThanSignState();
  void ScriptDataDoubleEscapeEndState();
  // The states shared by escaped and double escaped script data, and what
  // tells the two apart.
  struct script_escape_t;
  static const script_escape_t escaped;
  static const script_escape_t doubleEscaped;
  // Escape start and escape start dash: "-" leads to `onDash`.
  void ScriptEscapeStart(State onDash);
  void ScriptEscaped(const script_escape_t& escape);
  void ScriptEscapedDash(const script_escape_t& escape);
  void ScriptEscapedDashDash(const script_escape_t& escape);
  // Double escape start and end: "script" in the temporary buffer leads to
  // `onScript`, anything else to `otherwise`.
  void DoubleEscapeBoundary(State onScript, State otherwise);
  void ClearTemporaryBuffer() { temporaryBuffer.size = 0; }

  // CDATA sections.
  void CdataSectionState();
  __attribute__((noinline)) unsigned long CdataSectionRun(unsigned long budget);
  void CdataSectionBracketState();
  void CdataSectionEndState();

  // Tags.
  void TagOpenState();
  __attribute__((noinline)) unsigned long TagOpenRun(unsigned long budget);
  void EndTagOpenState();
  void TagNameState();
  __attribute__((noinline)) unsigned long TagNameRun(unsigned long budget);
  void SelfClosingStartTagState();

  // Attributes.
  void BeforeAttributeNameState();
  void AttributeNameState();
  __attribute__((noinline)) unsigned long AttributeNameRun(unsigned long budget);
  void AfterAttributeNameState();
  void BeforeAttributeValueState();
  void AttributeValueDoubleQuotedState();
  __attribute__((noinline)) unsigned long AttributeValueDoubleQuotedRun(unsigned long budget);
  void AttributeValueSingleQuotedState();
  __attribute__((noinline)) unsigned long AttributeValueSingleQuotedRun(unsigned long budget);
  void AttributeValueUnquotedState();
  __attribute__((noinline)) unsigned long AttributeValueUnquotedRun(unsigned long budget);
  template <unsigned int Quote>
  void QuotedAttributeValue(State self);
  void AfterAttributeValueQuotedState();
  void CharacterReferenceInAttributeValueState();

  // Markup declarations and comments.
  void MarkupDeclarationOpenState();
  void CommentStartState();
  void CommentStartDashState();
  void CommentState();
  __attribute__((noinline)) unsigned long CommentRun(unsigned long budget);
  void CommentEndDashState();
  void CommentEndState();
  void CommentEndBangState();
  void BogusCommentState();

  // DOCTYPEs.
  void DoctypeState();
  void BeforeDoctypeNameState();
  void DoctypeNameState();
  void AfterDoctypeNameState();
  void AfterDoctypePublicKeywordState();
  void BeforeDoctypePublicIdentifierState();
  void DoctypePublicIdentifierDoubleQuotedState();
  void DoctypePublicIdentifierSingleQuotedState();
  void AfterDoctypePublicIdentifierState();
  void BetweenDoctypePublicAndSystemIdentifiersState();
  void AfterDoctypeSystemKeywordState();
  void BeforeDoctypeSystemIdentifierState();
  void DoctypeSystemIdentifierDoubleQuotedState();
  void DoctypeSystemIdentifierSingleQuotedState();
  void AfterDoctypeSystemIdentifierState();
  void BogusDoctypeState();

  // Verbs of the comment and DOCTYPE states.
  // Consumes the next code points if they spell `keyword` from its code point
  // `from` on, once a to z are mapped onto A to Z (or exactly, with
  // MatchCase); otherwise consumes nothing.
  template <bool MatchCase = false, size_t N>
  bool ConsumeKeyword(const unsigned int (&keyword)[N], size_t from = 0) {
    unsigned int peeked[N];
    const size_t rest = N - from;
    if (consumer.Peek(peeked, rest) != rest) return false;
    for (size_t i = 0; i < rest; ++i) {
      if ((MatchCase ? peeked[i] : ToAsciiUpper(peeked[i])) != keyword[from + i]) return false;
    }
    consumer.Skip(rest);
    return true;
  }
  // ConsumeKeyword for a keyword that begins with `current`, the code point
  // just consumed.
  template <size_t N>
  bool ContinuesKeyword(unsigned int current, const unsigned int (&keyword)[N]) {
    return ToAsciiUpper(current) == keyword[0] && ConsumeKeyword(keyword, 1);
  }
  void BeginComment();
  // Returns to the data state and emits the comment.
  void EmitComment();
  // End of input inside a comment: the comment is emitted as it stands, the
  // end of input goes back to the data state.
  void EmitCommentAtEof();
  // Appends ASCII text to the comment.
  void AppendToComment(const char* text);
  // Appends the dashes (and "!") held back in case they closed the comment,
  // then cp, and returns to the comment state.
  void ContinueComment(const char* held, unsigned int cp);
  // Begins a DOCTYPE token whose name starts with `first`.
  void BeginDoctype(unsigned int first);
  // Begins a DOCTYPE token with every field missing.
  void BeginNamelessDoctype();
  void SetPublicIdEmpty();
  void SetSystemIdEmpty();
  void EmitDoctype();
  // End of input inside a DOCTYPE: the token is emitted as it stands, the end
  // of input goes back to the data state.
  void EmitDoctypeAtEof();
  // The states shared by the public and the system identifier, and what
  // tells the two apart.
  struct doctype_identifier_t;
  static const doctype_identifier_t publicIdentifier;
  static const doctype_identifier_t systemIdentifier;
  void AfterDoctypeKeyword(const doctype_identifier_t& identifier);
  void BeforeDoctypeIdentifier(const doctype_identifier_t& identifier);
  template <unsigned int Quote, typename Buffer>
  void QuotedDoctypeIdentifier(Buffer& identifier, State after, ParseErrorCode abrupt);
  // Sets the identifier to empty and switches to its `quoted` state.
  void OpenIdentifier(const doctype_identifier_t& identifier, State quoted);

  // Where the standard places an error of `code`: at the code point in hand,
  // or just after it (an error found at the end of input, or once a reference
  // has been read).
  error_place_t ErrorPlace(ParseErrorCode code, size_t ahead) const;

  // Emitters. Each marks where the next token begins once it has reported its own.
  void EmitCharToken(unsigned int cp) {
    handler->OnChar(cp);
    TokenReported();
  }
  void TokenReported() { tokenStart = consumer.Offset(); }
  void EmitEofToken();
  void EmitTagToken();
  // Browser mode: what the tree builder does with the tag about to be emitted.
  void ApplyBrowserRules();
  void EmitCommentToken();
  void EmitDoctypeToken();

  // Verbs shared by the states.
  // The state changes only here: its fast path goes with it. A switch to a
  // named state, SwitchTo<&Tokenizer::XState>(), finds the fast path as it is
  // compiled; a switch to a state held in a variable looks it up.
  template <State Next>
  void SwitchTo() {
    state = Next;
    fastPath = kFastPathOf<Next>;
  }
  void SwitchTo(State next) {
    state = next;
    fastPath = FastPathOf(next);
  }
  template <State Next>
  void Reconsume(unsigned int cp) {
    SwitchTo<Next>();
    consumer.Unconsume(cp);
  }
  void Reconsume(State next, unsigned int cp) {
    SwitchTo(next);
    consumer.Unconsume(cp);
  }
  // Hands the end of input back to the data state, which emits end of file.
  void ReconsumeEofInData();
  // Tokenizing ends for good (see Tokenize); so does the Run under way, which
  // tests only `interrupted` after each step.
  void MemoryRanOut() {
    outOfMemory = true;
    interrupted = true;
  }
  // Appends to a token buffer; a buffer that cannot grow ends tokenizing
  // (and Append returns false).
  template <typename Buffer>
  bool Append(Buffer& buffer, unsigned int cp) {
    if (buffer.Push(cp)) return true;
    MemoryRanOut();
    return false;
  }
  // Releases the heap storage of the token under construction, if any.
  void ReleaseToken();
  // ReleaseToken for a tag.
  void ReleaseTag();

  // Tags and their attributes.
  void BeginTag(unsigned int first, bool endTag);
  void EmitCurrentTag();
  // End of input inside a tag: the tag is never reported, the end of input
  // goes back to the data state.
  void DropTagAtEof();
  void StartAttribute(unsigned int first);
  void AppendToName(unsigned int cp) { Append(attributes.Back().name, cp); }
  void AppendToValue(unsigned int cp) { Append(attributes.Back().value, cp); }
  // Ends the current attribute's name: a name that repeats a kept one is a
  // parse error, and that attribute and its value are dropped.
  void LeaveAttributeName();
  bool RepeatsKeptName(unsigned long position);
  // Below this many kept attributes a repeated name is found by a linear scan;
  // from there on the names are indexed.
  static constexpr unsigned long kIndexedFrom = 32;

  enum class TokenKind : unsigned char { None, Tag, Comment, Doctype };

  // The current token's storage: only the record of the token under
  // construction is meaningful.
  union {
    struct {
      attr_list_t attributes;
      fast_stack_t<unsigned int, 32> tagName;  // room for all but the longest names
      bool isEndTag;
      bool selfClosing;
      attr_name_index_t attributeNames;  // the kept names, once a tag has many
      uint64_t keptNameBits;             // a bit per kept name, by NameBit
    };
    struct {
      fast_stack_t<unsigned int, 1024> commentData;
    };
    struct {
      fast_stack_t<unsigned int, 4> doctypeName;
      fast_stack_t<unsigned int, 128> publicId;
      fast_stack_t<unsigned int, 4> systemId;
      unsigned char doctypeFlags;
    };
  };
  InputConsumer& consumer;
  Handler* handler = nullptr;
  State state;
  FastPath fastPath;  // FastPathOf(state)
  State returnState = nullptr;
  unsigned int bogusCommentChar = 0;
  unsigned int additionalAllowedChar = 0;
  bool acknowledged = false;
  bool eofEmitted = false;

  // Content models: lastStartTag holds the name an end tag must have to end
  // RCDATA, RAWTEXT or script data; temporaryBuffer the letters read after
  // "</" there, or after "<" or "</" in escaped script data.
  fast_stack_t<unsigned int, 16> lastStartTag;
  fast_stack_t<unsigned int, 16> temporaryBuffer;
  bool cdataAllowed = false;
  bool browserMode = false;
  BrowserRules browser;

  TokenKind liveToken = TokenKind::None;  // whose heap storage ReleaseToken frees
  bool currentAttributeDropped = false;   // the last attribute repeats an earlier name
  bool outOfMemory = false;
  bool interrupted = false;  // by a handler, or as tokenizing ended (end of file, out of memory)

  uint64_t tokenStart = 0;  // where the token under construction begins
  uint64_t blockEnd = 0;    // where a block of text reported within a run ends, during its callback
  uint64_t textStart = 0;   // where the characters of the block being reported begin

  // Feeding: the input of the RunFed under way, and how far the last look at
  // a run that was not held yet got: from which state, read position and
  // pending code points, and up to how many bytes.
  const FeedInputStream* fedInput = nullptr;
  struct run_look_t {
    State state = nullptr;
    uint64_t offset = 0;
    size_t pending = 0;
    size_t bytes = 0;
  } runLook;

  // Bits of doctypeFlags: the fields a DOCTYPE token does not have.
  static constexpr unsigned char kNameMissing = 1;
  static constexpr unsigned char kPublicIdMissing = 2;
  static constexpr unsigned char kSystemIdMissing = 4;

  static const unsigned int _hmhm[2];
  static const unsigned int _doctype[7];
  static const unsigned int _public[6];
  static const unsigned int _system[6];
  static const unsigned int _cdata[7];
};

// The fast paths, each of the state it belongs to. The text states' fast
// paths hand the code points that their tables emit as they are to the
// handler in blocks.
template <>
constexpr Tokenizer::FastPath Tokenizer::kFastPathOf<&Tokenizer::DataState> = &Tokenizer::DataRun;
template <>
constexpr Tokenizer::FastPath Tokenizer::kFastPathOf<&Tokenizer::TagOpenState> = &Tokenizer::TagOpenRun;
template <>
constexpr Tokenizer::FastPath Tokenizer::kFastPathOf<&Tokenizer::AttributeValueDoubleQuotedState> =
    &Tokenizer::AttributeValueDoubleQuotedRun;
template <>
constexpr Tokenizer::FastPath Tokenizer::kFastPathOf<&Tokenizer::AttributeNameState> = &Tokenizer::AttributeNameRun;
template <>
constexpr Tokenizer::FastPath Tokenizer::kFastPathOf<&Tokenizer::TagNameState> = &Tokenizer::TagNameRun;
template <>
constexpr Tokenizer::FastPath Tokenizer::kFastPathOf<&Tokenizer::AttributeValueSingleQuotedState> =
    &Tokenizer::AttributeValueSingleQuotedRun;
template <>
constexpr Tokenizer::FastPath Tokenizer::kFastPathOf<&Tokenizer::AttributeValueUnquotedState> =
    &Tokenizer::AttributeValueUnquotedRun;
template <>
constexpr Tokenizer::FastPath Tokenizer::kFastPathOf<&Tokenizer::CommentState> = &Tokenizer::CommentRun;
template <>
constexpr Tokenizer::FastPath Tokenizer::kFastPathOf<&Tokenizer::ScriptDataState> = &Tokenizer::ScriptDataRun;
template <>
constexpr Tokenizer::FastPath Tokenizer::kFastPathOf<&Tokenizer::RawtextState> = &Tokenizer::RawtextRun;
template <>
constexpr Tokenizer::FastPath Tokenizer::kFastPathOf<&Tokenizer::RcdataState> = &Tokenizer::RcdataRun;
template <>
constexpr Tokenizer::FastPath Tokenizer::kFastPathOf<&Tokenizer::ScriptDataEscapedState> =
    &Tokenizer::ScriptDataEscapedRun;
template <>
constexpr Tokenizer::FastPath Tokenizer::kFastPathOf<&Tokenizer::ScriptDataDoubleEscapedState> =
    &Tokenizer::ScriptDataDoubleEscapedRun;
template <>
constexpr Tokenizer::FastPath Tokenizer::kFastPathOf<&Tokenizer::PlaintextState> = &Tokenizer::PlaintextRun;
template <>
constexpr Tokenizer::FastPath Tokenizer::kFastPathOf<&Tokenizer::CdataSectionState> = &Tokenizer::CdataSectionRun;

// Defined here, once the fast paths are known.
inline void Tokenizer::ReconsumeEofInData() { Reconsume<&Tokenizer::DataState>(kEof); }

inline void Tokenizer::BeginTag(unsigned int first, bool endTag) {
  liveToken = TokenKind::Tag;
  attributes.Init();
  tagName.Init();
  attributeNames.Init();
  keptNameBits = 0;
  currentAttributeDropped = false;
  Append(tagName, first);
  isEndTag = endTag;
  selfClosing = false;
}

inline void Tokenizer::StartAttribute(unsigned int first) {
  attr_t* attribute;
  if (currentAttributeDropped) {
    attribute = &attributes.Back();
    attribute->Free();
    currentAttributeDropped = false;
  } else {
    attribute = attributes.Emplace();
    if (!attribute) {
      MemoryRanOut();
      return;
    }
  }
  attribute->Init();
  Append(attribute->name, first);
}

inline void Tokenizer::LeaveAttributeName() {
  // Most names have a bit that no kept name has set: they repeat none.
  const unsigned long position = attributes.size - 1;
  const uint64_t bit = NameBit(attributes.data[position]);
  const bool seen = keptNameBits & bit;
  keptNameBits |= bit;
  if ((seen || position >= kIndexedFrom) && RepeatsKeptName(position)) {
    ParseError(ParseErrorCode::DuplicateAttribute);
    currentAttributeDropped = true;
  }
}

inline void Tokenizer::ReleaseTag() {
  for (unsigned long i = 0; i < attributes.size; ++i) attributes.data[i].Free();
  attributes.Free();
  tagName.Free();
  attributeNames.Free();
  liveToken = TokenKind::None;
}

inline void Tokenizer::EmitCurrentTag() {
  SwitchTo<&Tokenizer::DataState>();
  EmitTagToken();
}

template <bool Lower>
inline const unsigned char* StoreOrdinaryBytes(const run_stops_t& stops, const unsigned char* p,
                                               const unsigned char* const bound, unsigned int*& out) {
#if defined(__SSE2__)
  // Names, the runs that are lowered, are a few letters long: a byte at a
  // time they cost less than the setting up of the wide loop.
  if (!Lower) p = StoreOrdinaryBlocks(stops, p, bound, out);
#endif
  if (Lower) {
    for (unsigned int cp; p != bound && (cp = stops.lowered[*p]) != 0; ++p) *out++ = cp;
    return p;
  }
  for (; p != bound && !stops.byte[*p]; ++p) *out++ = *p;
  return p;
}

// Appends to `buffer` the bytes from p on that StoreOrdinaryBytes stores, as
// far as `limit` and the buffer's room go; returns where they end.
template <bool Lower, typename Buffer>
inline const unsigned char* AppendOrdinaryBytes(Buffer& buffer, const run_stops_t& stops, const unsigned char* p,
                                                const unsigned char* const limit) {
  unsigned int* out = buffer.data + buffer.size;
  const unsigned char* const end =
      StoreOrdinaryBytes<Lower>(stops, p, p + std::min<size_t>(limit - p, buffer.Room()), out);
  buffer.size += end - p;
  return end;
}

// Whether a run that stopped at p, before `limit`, stopped at an ASCII stop,
// which a row of its state reads. At any other end (the limit, the buffer's
// room, a byte above ASCII) the run may go on.
inline bool AtAsciiStop(const run_stops_t& stops, const unsigned char* p, const unsigned char* limit) {
  return p != limit && *p < 0x80 && stops.byte[*p];
}

template <bool Lower, typename MakeRoom>
inline unsigned long Tokenizer::ConsumeRun(const run_stops_t& stops, unsigned long budget, unsigned int*& out,
                                           unsigned int*& end, MakeRoom&& makeRoom) {
  InputConsumer& input = consumer;
  const InputConsumer::ascii_window_t ahead = input.AsciiWindow();
  const unsigned char* const start = ahead.bytes;
  const unsigned char* const limit = start + ahead.size;
  // A run often ends where it begins, at a stop (text between two tags, the
  // name of a tag before "/" or ">"): nothing more is set up then.
  if (start != limit && *start < 0x80 && stops.byte[*start]) return 0;
  const unsigned char* p = start;
  unsigned long taken = 0;
  while (taken < budget && p < limit) {
    if (out == end && !makeRoom(p - start)) break;
    // ASCII is a byte a code point, so a bound in bytes bounds the count.
    const unsigned char* const from = p;
    const unsigned char* const bound =
        p + std::min<size_t>({budget - taken, static_cast<size_t>(limit - p), static_cast<size_t>(end - out)});
    p = StoreOrdinaryBytes<Lower>(stops, p, bound, out);
    taken += p - from;
    if (p == bound) continue;
    if (*p < 0x80 || limit - p < 4) break;
    const unsigned length = InputConsumer::SequenceLength(*p);
    const unsigned int cp = InputConsumer::Decode(p, length);
    // An overlong form can decode to a stop ("<", "&", NUL, ...).
    if (cp < 0x80 && stops.byte[cp]) break;
    p += length;
    ++taken;
    *out++ = Lower ? ToAsciiLower(cp) : cp;
  }
  // A run often ends where it begins, at a stop: the window is then left alone.
  if (p != start) input.Advance(p - start);
  return taken;
}

// The block is handed over whenever it is full and when the run ends.
inline unsigned long Tokenizer::EmitTextRun(const run_stops_t& stops, unsigned long budget) {
  constexpr unsigned long kBlock = 256;
  unsigned int block[kBlock];
  unsigned int* out = block;
  unsigned int* end = block + kBlock;
  // The window moves when the run ends: until then the blocks are placed from the run's start.
  const uint64_t runStart = consumer.Offset();
  textStart = runStart;
  unsigned long taken = ConsumeRun<false>(stops, budget, out, end, [&](size_t read) {
    blockEnd = runStart + read;
    handler->OnText(block, kBlock);
    tokenStart = textStart = blockEnd;
    blockEnd = 0;
    out = block;
    return !interrupted;
  });
  if (out != block) {
    handler->OnText(block, out - block);
    TokenReported();
  }
  return taken;
}

// Most runs are held whole by the window and by the room the buffer has, and
// end at an ASCII stop: one pass over the window reads them. Any other run goes
// on from where that pass stopped, in ContinueAppendRun.
template <bool Lower, typename Buffer>
inline unsigned long Tokenizer::AppendRun(Buffer& buffer, const run_stops_t& stops, unsigned long budget) {
  const InputConsumer::ascii_window_t ahead = consumer.AsciiWindow();
  const unsigned char* const limit = ahead.bytes + std::min<size_t>(budget, ahead.size);
  const unsigned char* const p = AppendOrdinaryBytes<Lower>(buffer, stops, ahead.bytes, limit);
  const unsigned long taken = p - ahead.bytes;
  if (taken) consumer.Advance(taken);
  if (AtAsciiStop(stops, p, limit)) return taken;
  return taken + ContinueAppendRun<Lower>(buffer, stops, budget - taken);
}

// Code points go straight into the room the buffer has, which grows when full.
template <bool Lower, typename Buffer>
inline unsigned long Tokenizer::ContinueAppendRun(Buffer& buffer, const run_stops_t& stops, unsigned long budget) {
  unsigned int* out = buffer.data + buffer.size;
  unsigned int* end = out + buffer.Room();
  unsigned long taken = ConsumeRun<Lower>(stops, budget, out, end, [&](size_t) {
    buffer.size = out - buffer.data;
    if (!buffer.Grow()) {
      MemoryRanOut();
      return false;
    }
    out = buffer.data + buffer.size;
    end = out + buffer.Room();
    return true;
  });
  buffer.size = out - buffer.data;
  return taken;
}

inline unsigned long Tokenizer::AppendValueRun(const run_stops_t& stops, unsigned long budget) {
  unsigned long taken = AppendRun<false>(attributes.Back().value, stops, budget);
  if (taken) returnState = state;
  return taken;
}

}  // namespace Html
}  // namespace Tessarin
