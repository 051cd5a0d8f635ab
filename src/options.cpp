// The command line. Options may come before and after the description;
// "--" ends them, so that a description may be named like an option.
#include "options.h"

#include <cstdio>
#include <cstring>

// One entry per option: its spellings and where it goes.
struct OptionEntry {
    const char* shortName; // nullptr when there is none
    const char* longName;
    bool Options::*flag;        // for a flag
    std::string Options::*text; // for an option with an argument
};

static const OptionEntry optionTable[] = {
    {"-h", "--help", &Options::help, nullptr},
    {nullptr, "--version", &Options::version, nullptr},
    {"-o", "--output", nullptr, &Options::output},
    {nullptr, "--lint", &Options::lint, nullptr},
    {nullptr, "--dot", &Options::dot, nullptr},
    {nullptr, "--testbench", &Options::testbench, nullptr},
    {nullptr, "--verilog", &Options::verilog, nullptr},
    {nullptr, "--kiss2", &Options::kiss2, nullptr},
};

static void argError(int position, const std::string& msg)
{
    std::fflush(stdout);
    std::fprintf(stderr, "ArgError[line=0, column=%d]: %s\n", position, msg.c_str());
}

// The entry an argument names, and the argument glued to it ("-oFILE",
// "--output=FILE"), if any.
static const OptionEntry* findEntry(const std::string& arg, std::string& glued, bool& hasGlued)
{
    hasGlued = false;
    for (const OptionEntry& entry : optionTable) {
        std::string name = entry.longName;
        if (arg == name || (entry.shortName && arg == entry.shortName))
            return &entry;
        if (entry.text && arg.compare(0, name.size() + 1, name + "=") == 0) {
            glued = arg.substr(name.size() + 1);
            hasGlued = true;
            return &entry;
        }
        if (entry.text && entry.shortName && arg.size() > 2 && arg.compare(0, 2, entry.shortName) == 0) {
            glued = arg.substr(2);
            hasGlued = true;
            return &entry;
        }
    }
    return nullptr;
}

CommandLine parse_options(int argc, char* argv[], Options& options)
{
    int descriptions = 0;
    bool optionsEnd = false;
    bool seen[sizeof optionTable / sizeof optionTable[0]] = {};
    for (int i = 1; i < argc; i++) {
        std::string arg = argv[i];
        // A lone "-" is a file name, as most tools read it.
        if (optionsEnd || arg.size() < 2 || arg[0] != '-') {
            if (descriptions++ == 0)
                options.description = arg;
            continue;
        }
        if (arg == "--") {
            optionsEnd = true;
            continue;
        }
        std::string glued;
        bool hasGlued;
        const OptionEntry* entry = findEntry(arg, glued, hasGlued);
        if (!entry) {
            argError(i, "Neznamy prepinac " + arg);
            return CommandLine::Error;
        }
        std::string name = arg.compare(0, 2, "--") == 0 ? entry->longName : entry->shortName;
        if (seen[entry - optionTable]) {
            argError(i, "Prepinac " + name + " je zadan dvakrat");
            return CommandLine::Error;
        }
        seen[entry - optionTable] = true;
        if (entry->flag) {
            options.*(entry->flag) = true;
        } else if (hasGlued) {
            options.*(entry->text) = glued;
        } else if (i + 1 < argc) {
            options.*(entry->text) = argv[++i];
        } else {
            argError(i, "Prepinac " + name + " vyzaduje argument");
            return CommandLine::Error;
        }
        if (entry->text && (options.*(entry->text)).empty()) {
            argError(i, "Prepinac " + name + " vyzaduje argument");
            return CommandLine::Error;
        }
    }
    if (options.help || options.version)
        return CommandLine::Run;
    return descriptions == 1 ? CommandLine::Run : CommandLine::Usage;
}

void print_usage(const char* program)
{
    std::printf("Pouziti :\n%s <file>", program ? program : "");
}

void print_help(const char* program)
{
    std::printf("Pouziti: %s [PREPINAC]... POPIS\n"
                "Zapise kontrolor VHDL (entita GUARD) konecneho automatu z POPISU, vedle nej\n"
                "pod stejnym jmenem s priponou .vhd.\n"
                "\n"
                "  -o, --output SOUBOR  zapise kontrolor do SOUBORU; dalsi vystupy dostanou\n"
                "                       jmeno podle jeho kmene (SOUBOR bez pripony)\n"
                "      --lint           ohlasi sporna mista popisu (varovani, stav 2),\n"
                "                       bez dalsich prepinacu nezapise nic\n"
                "      --dot            zapise i obrazek automatu pro Graphviz (KMEN.dot)\n"
                "      --testbench      zapise i samokontrolni testbench VHDL (KMEN_tb.vhd)\n"
                "      --verilog        zapise i kontrolor ve Verilogu 2005 (KMEN.v)\n"
                "      --kiss2          cte POPIS ve formatu KISS2\n"
                "  -h, --help           vypise tento text\n"
                "      --version        vypise verzi\n"
                "      --               konec prepinacu (POPIS smi zacinat znakem -)\n",
                program ? program : "guardgen");
}
