// Lexer: reads the description one character at a time and delivers tokens.
#include "lex.h"

#include <cctype>
#include <cstdio>
#include <cstdlib>
#include <sys/stat.h>

const std::string symbolCaptions[20] = {
    "$",  "IntConst", "!",  "(",  ")",  ";",  ",", ":", "id", ">",
    "<",  ">=",       "<=", "==", "<>", "=",  "@", "#", "AND", "OR"};

std::string lexStr;
std::string lexInt;
int vect = 0;
int vector = 0;
int lexLine = 0;
int lexColumn = 0;

// The input: an own buffer over fread, since a formatted read per character
// is far too slow for machine-generated descriptions. Only the character
// read last is ever pushed back, and it is always still in the buffer.
static FILE* fin = nullptr;
static unsigned char buf[1 << 16];
static size_t bufPos = 0;
static size_t bufLen = 0;
static bool atEof = false;

// Fills the empty buffer; false at the end of the file.
static bool refill()
{
    if (atEof)
        return false;
    bufLen = std::fread(buf, 1, sizeof buf, fin);
    bufPos = 0;
    if (bufLen == 0) {
        // A read error must not pass for the end of a valid description.
        if (std::ferror(fin))
            lexTotalError("Chyba pri cteni vstupniho souboru");
        atEof = true;
        return false;
    }
    return true;
}

// Takes the next character into c; at the end of the file c is left as it
// was and the stream stays at its end. The refill is apart so that this,
// called for every character, is small enough to be inlined.
static inline bool readChar(int& c)
{
    if (bufPos == bufLen && !refill())
        return false;
    c = buf[bufPos++];
    return true;
}

static void unreadChar()
{
    --bufPos;
}

// Blanks as the "C" locale classifies them; bytes above 127 are none.
static bool isBlank(int c)
{
    return c == ' ' || (c >= '\t' && c <= '\r');
}

static bool isLetter(int c)
{
    return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z');
}

static bool isDigit(int c)
{
    return c >= '0' && c <= '9';
}

static int toUpper(int c)
{
    return (c >= 'a' && c <= 'z') ? c - 'a' + 'A' : c;
}

void radkovani(char c)
{
    if (c == '\n') {
        lexLine++;
        lexColumn = 0;
    }
}

void pozice(char c)
{
    if (isBlank(static_cast<unsigned char>(c)))
        lexColumn++;
}

bool lexInit(std::string inputFileName)
{
    lexColumn = 0;
    lexLine = 1;
    lexInt.clear();
    lexStr.clear();
    vect = 0;
    vector = 0;
    bufPos = bufLen = 0;
    atEof = false;

    fin = std::fopen(inputFileName.c_str(), "r");
    struct stat st;
    if (fin && (fstat(fileno(fin), &st) != 0 || S_ISDIR(st.st_mode))) {
        // A directory opens on this system but holds no description.
        std::fclose(fin);
        fin = nullptr;
    }
    if (!fin) {
        std::printf("Nelze otevrit vstupni soubor %s", inputFileName.c_str());
        return false;
    }
    std::printf("Soubor %s otevren...\n", inputFileName.c_str());
    return true;
}

void lexFree(std::string inputFileName)
{
    if (!fin)
        return;
    std::fclose(fin);
    fin = nullptr;
    std::printf("\nSoubor %s zavren...", inputFileName.c_str());
}

// Skips comments. A lone "/" drops the character after it; blanks after a
// comment count towards the column. Returns false at the end of the file.
static bool skipComments(int& c)
{
    while (c == '/') {
        if (!readChar(c))
            return false;
        if (c == '/') {
            do {
                if (!readChar(c))
                    return false;
            } while (c != '\n');
        }
        radkovani(static_cast<char>(c));
        if (!readChar(c))
            return false;
        while (isBlank(c)) {
            radkovani(static_cast<char>(c));
            pozice(static_cast<char>(c));
            if (!readChar(c))
                return false;
        }
    }
    return true;
}

// "<", ">" or "=", possibly the first of a two-character operator.
static TSymbol lexOperator(int c)
{
    int nextc = ' ';
    bool gotNext = readChar(nextc);
    if (c == '<' && nextc == '=')
        return mensirovnoSym;
    if (c == '<' && nextc == '>')
        return ruznostSym;
    if (c == '>' && nextc == '=')
        return vetsirovnoSym;
    if (c == '=' && nextc == '=')
        return rovnostSym;
    if (gotNext)
        unreadChar();
    return c == '<' ? mensiSym : c == '>' ? vetsiSym : priradSym;
}

// Compared as strings, the length first: against a C string every name
// would be measured and compared byte by byte.
static const std::string andWord = "AND";
static const std::string orWord = "OR";

static TSymbol lexIdentifier(int c)
{
    for (;;) {
        lexStr += static_cast<char>(c);
        if (!readChar(c))
            break;
        c = toUpper(c);
        if (!isLetter(c) && !isDigit(c) && c != '_') {
            unreadChar();
            break;
        }
    }
    if (lexStr == andWord)
        return andSym;
    if (lexStr == orWord)
        return orSym;
    return idSym;
}

static TSymbol lexNumber(int c)
{
    for (;;) {
        if (++vect > 1)
            vector = 1;
        lexInt += static_cast<char>(c);
        if (!readChar(c))
            break;
        if (!isDigit(c)) {
            unreadChar();
            break;
        }
    }
    return intkonstSym;
}

TSymbol lex()
{
    lexInt.clear();
    lexStr.clear();
    lexColumn++;
    vect = 0;
    vector = 0;

    int c = ' ';
    while (!atEof && isBlank(c)) {
        radkovani(static_cast<char>(c));
        if (!readChar(c))
            break;
    }
    if (isBlank(c))
        return eofSym;
    if (!skipComments(c))
        return eofSym;

    switch (c) {
    case '!': return negaceSym;
    case '(': return levazavoraSym;
    case ')': return pravazavoraSym;
    case ';': return strednikSym;
    case ',': return carkaSym;
    case ':': return dvojteckaSym;
    case '@': return stavySym;
    case '#': return podminkySym;
    case '$': return eofSym;
    case '<':
    case '>':
    case '=': return lexOperator(c);
    }
    c = toUpper(c);
    if (isLetter(c) || c == '_')
        return lexIdentifier(c);
    if (isDigit(c))
        return lexNumber(c);
    lexTotalError(std::string("Neznamy symbol: ") + static_cast<char>(c));
}

// Ends the run after a report. The fuzzing build supplies its own, which
// returns to the fuzzer instead, so that one process can read many inputs.
#ifdef GUARDGEN_FUZZ
[[noreturn]] void endRun(int status);
#else
[[noreturn]] static void endRun(int status)
{
    std::exit(status);
}
#endif

// Both reports flush standard output first, so that a terminal shows the
// progress lines before the error.
[[noreturn]] static void report(const char* format, const std::string& msg)
{
    std::fflush(stdout);
    std::fprintf(stderr, format, lexLine, lexColumn, msg.c_str());
    endRun(1);
}

void lexTotalError(std::string msg)
{
    report("LexError[line=%d, column=%d]: %s \n", msg);
}

void synTotalError(std::string msg)
{
    report("SyntError[line=%d, column=%d]: %s\n", msg);
}
