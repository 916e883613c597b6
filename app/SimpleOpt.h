// Option scanner: walks an argument array against a table of option records
// and hands the options back one step at a time. It does not know what the
// options mean. Only the default mode (flags 0) exists:
//  - no clumping of single-letter options, no argument glued to a short
//    option; "-d value" and "-d=value" are the two ways to give one;
//  - an element must carry exactly an entry's leading hyphens; a proper
//    prefix of exactly one entry's name selects it (-OV is -OVERRIDE);
//  - elements that are not options are moved to the end of the array, in
//    their command-line order, and never examined again.
#pragma once

#include <stddef.h>

#include <string>

template <class SOCHAR>
class CSimpleOptTempl {
 public:
  enum ArgumentKind { ArgNone = 0, ArgRequired = 1 };

  enum StepError {
    ErrNone = 0,
    ErrUnknownOption = -1,      // begins with '-' but matches no entry
    ErrAmbiguous = -2,          // a prefix of two or more entries
    ErrUnexpectedArgument = -3, // "=value" given to an option without one
    ErrMissingArgument = -5,    // required argument, no next element
    ErrArgumentIsOption = -6,   // required argument, next element begins with '-'
  };

  struct SOption {
    int id;              // caller's identifier; a negative id ends the table
    const SOCHAR* text;  // with its leading hyphens: "-d", "--https"
    int argumentKind;    // ArgNone or ArgRequired
  };

  CSimpleOptTempl(int argc, SOCHAR** argv, const SOption* table, int flags)
      : m_argc(argc > 0 ? argc : 0), m_argv(argv), m_table(table), m_flags(flags),
        m_next(1), m_lastArg(m_argc) {
    m_scratch = m_argc <= kFixedScratch ? m_fixedScratch : new SOCHAR*[m_argc];
  }

  ~CSimpleOptTempl() {
    if (m_scratch != m_fixedScratch) delete[] m_scratch;
  }

  CSimpleOptTempl(const CSimpleOptTempl&) = delete;
  CSimpleOptTempl& operator=(const CSimpleOptTempl&) = delete;

  // Advances to the next option. False when the arguments are exhausted;
  // true for every option step, also one that carries an error.
  bool Next() {
    m_error = ErrNone;
    m_id = -1;
    m_text.clear();
    m_arg = nullptr;

    const int stepStart = m_next;
    int at = m_next;
    while (at < m_lastArg && !sIsOption(m_argv[at])) ++at;
    const int passedOver = at - stepStart;

    if (at >= m_lastArg) {
      sMovePassedOverToEnd(stepStart, passedOver);
      m_next = m_lastArg;
      return false;
    }

    SOCHAR* element = m_argv[at];
    size_t nameLength = 0;
    while (element[nameLength] && element[nameLength] != SOCHAR('=')) ++nameLength;
    SOCHAR* attached = element[nameLength] ? element + nameLength + 1 : nullptr;

    int consumed = 1;
    const SOption* entry = sFind(element, nameLength);
    if (!entry) {
      m_text.assign(element, nameLength);
    } else {
      m_id = entry->id;
      m_text = entry->text;
      if (entry->argumentKind == ArgNone) {
        if (attached) m_error = ErrUnexpectedArgument;
      } else if (attached) {
        m_arg = attached;
      } else if (at + 1 >= m_lastArg) {
        m_error = ErrMissingArgument;
      } else if (m_argv[at + 1][0] == SOCHAR('-')) {
        m_error = ErrArgumentIsOption;  // left for the next step
      } else {
        m_arg = m_argv[at + 1];
        consumed = 2;
      }
    }

    sMovePassedOverToEnd(stepStart, passedOver);
    m_next = stepStart + consumed;
    return true;
  }

  int LastError() const { return m_error; }
  int OptionId() const { return m_id; }
  // The matched entry's own text, or the element itself when none matched.
  const SOCHAR* OptionText() const { return m_text.c_str(); }
  SOCHAR* OptionArg() const { return m_arg; }
  int Flags() const { return m_flags; }

 private:
  static constexpr int kFixedScratch = 50;

  static bool sIsOption(const SOCHAR* element) { return element && element[0] == SOCHAR('-'); }

  static size_t sHyphens(const SOCHAR* text, size_t length) {
    size_t n = 0;
    while (n < length && text[n] == SOCHAR('-')) ++n;
    return n;
  }

  static size_t sLength(const SOCHAR* text) {
    size_t n = 0;
    while (text[n]) ++n;
    return n;
  }

  // The entry `name` (of `length` characters) selects, or null with m_error
  // set to ErrUnknownOption or ErrAmbiguous.
  const SOption* sFind(const SOCHAR* name, size_t length) {
    const size_t hyphens = sHyphens(name, length);
    const SOCHAR* rest = name + hyphens;
    const size_t restLength = length - hyphens;
    const SOption* partial = nullptr;
    int partials = 0;
    for (const SOption* e = m_table; e && e->id >= 0 && e->text; ++e) {
      const size_t entryLength = sLength(e->text);
      if (sHyphens(e->text, entryLength) != hyphens) continue;
      const SOCHAR* entryRest = e->text + hyphens;
      const size_t entryRestLength = entryLength - hyphens;
      if (restLength > entryRestLength) continue;
      bool prefix = true;
      for (size_t i = 0; i < restLength && prefix; ++i) prefix = rest[i] == entryRest[i];
      if (!prefix) continue;
      if (restLength == entryRestLength) return e;  // exact match wins at once
      if (partials++ == 0) partial = e;
    }
    if (partials == 1) return partial;
    m_error = partials > 1 ? ErrAmbiguous : ErrUnknownOption;
    return nullptr;
  }

  // Moves the `count` non-option elements at `from` behind everything else,
  // keeping their order, and shrinks the region still to be examined.
  void sMovePassedOverToEnd(int from, int count) {
    if (count <= 0) return;
    for (int i = 0; i < count; ++i) m_scratch[i] = m_argv[from + i];
    for (int i = from + count; i < m_argc; ++i) m_argv[i - count] = m_argv[i];
    for (int i = 0; i < count; ++i) m_argv[m_argc - count + i] = m_scratch[i];
    m_lastArg -= count;
  }

  int m_argc;
  SOCHAR** m_argv;
  const SOption* m_table;
  int m_flags;
  int m_next;     // next element to examine
  int m_lastArg;  // elements from here on were passed over and moved
  SOCHAR* m_fixedScratch[kFixedScratch];
  SOCHAR** m_scratch;

  int m_error = ErrNone;
  int m_id = -1;
  std::basic_string<SOCHAR> m_text;
  SOCHAR* m_arg = nullptr;
};

typedef CSimpleOptTempl<char> CSimpleOpt;
