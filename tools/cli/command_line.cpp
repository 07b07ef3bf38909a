#include "tools/cli/command_line.h"

#include "tools/cli/cli_support.h"

#include <CLI/CLI.hpp>

#include <algorithm>
#include <charconv>
#include <map>
#include <sstream>

namespace {

std::map<std::string, TCommandFactory>& Registry()
{
    static std::map<std::string, TCommandFactory> registry;
    return registry;
}

// "a", "a and b", "a, b and c".
std::string Listed(const std::vector<std::string>& items, const std::string& last = " and ")
{
    std::string text;
    for (size_t i = 0; i < items.size(); ++i)
        text += (i == 0 ? "" : i + 1 == items.size() ? last : ", ") + items[i];
    return text;
}

// More options than this make "[OPTIONS]" in the usage line.
constexpr size_t MaxOptionsShown = 4;
// Where an option's help starts, after "  --name VALUE".
constexpr size_t HelpColumn = 23;

} // namespace

TCommandRegistration::TCommandRegistration(const char* key, TCommandFactory make)
{
    Registry()[key] = make;
}

TCommandFactory FindCommand(const std::string& key)
{
    const auto found = Registry().find(key);
    return found == Registry().end() ? nullptr : found->second;
}

std::vector<std::string> RegisteredCommands()
{
    std::vector<std::string> keys;
    for (const auto& [key, make] : Registry())
        keys.push_back(key);
    return keys;
}

enum class TArgumentKind { Positional, Positionals, Option, Flag, Number, Choice };

struct TCommandLine::TArgument {
    TArgument(TArgumentKind kind, std::string name, std::string valueName, std::string noun, std::string help,
              TUsage usage = TUsage::Optional, bool required = false)
        : Kind(kind), Name(std::move(name)), ValueName(std::move(valueName)), Noun(std::move(noun)),
          Help(std::move(help)), Usage(usage), Required(required)
    {
    }

    TArgumentKind Kind;
    std::string Name, ValueName, Noun, Help;
    TUsage Usage = TUsage::Optional;
    bool Required = false;
    CLI::Option* Parsed = nullptr;
    std::string Text;            // a number as typed
    int* NumberValue = nullptr;
    int Min = 0, Max = 0;
    std::string* ChoiceValue = nullptr;
    std::vector<std::string> Choices;
};

enum class TRuleKind { Excludes, Needs, Alternatives };

struct TCommandLine::TRule {
    TRuleKind Kind;
    std::string Name;
    std::vector<std::string> Others;
    std::string Message;
};

TCommandLine::TCommandLine(std::string name) : FName(std::move(name)), FApp(std::make_unique<CLI::App>("", FName))
{
    FApp->set_help_flag("--help");
    FApp->allow_extras();
}

TCommandLine::~TCommandLine() = default;

void TCommandLine::Summary(std::string text)
{
    FSummary = std::move(text);
}

void TCommandLine::Description(std::string text)
{
    FDescription = std::move(text);
}

void TCommandLine::Epilogue(std::string text)
{
    FEpilogue = std::move(text);
}

TCommandLine::TArgument& TCommandLine::Add(TArgument argument)
{
    FArguments.push_back(std::move(argument));
    return FArguments.back();
}

void TCommandLine::Positional(const std::string& name, const std::string& noun, std::string& value, bool required)
{
    // CLI11 parts names at commas (COL,ROW), so it gets one of its own.
    TArgument& argument = Add(TArgument(TArgumentKind::Positional, name, "", noun, "", TUsage::Shown, required));
    argument.Parsed = FApp->add_option("positional" + std::to_string(FArguments.size()), value);
}

void TCommandLine::Positionals(const std::string& name, const std::string& noun, std::vector<std::string>& values)
{
    TArgument& argument = Add(TArgument(TArgumentKind::Positionals, name, "", noun, "", TUsage::Shown, true));
    argument.Parsed = FApp->add_option("positional" + std::to_string(FArguments.size()), values);
}

void TCommandLine::Option(const std::string& name, const std::string& valueName, std::string& value,
                          const std::string& help, TUsage usage)
{
    TArgument& argument =
        Add(TArgument(TArgumentKind::Option, name, valueName, "", help, usage, usage == TUsage::Required));
    argument.Parsed = FApp->add_option(name, value)->multi_option_policy(CLI::MultiOptionPolicy::TakeLast);
}

void TCommandLine::Option(const std::string& name, const std::string& valueName, std::vector<std::string>& values,
                          const std::string& help, TUsage usage)
{
    TArgument& argument =
        Add(TArgument(TArgumentKind::Option, name, valueName, "", help, usage, usage == TUsage::Required));
    argument.Parsed =
        FApp->add_option(name, values)->expected(1)->multi_option_policy(CLI::MultiOptionPolicy::TakeAll);
}

void TCommandLine::Flag(const std::string& name, bool& value, const std::string& help)
{
    TArgument& argument = Add(TArgument(TArgumentKind::Flag, name, "", "", help));
    argument.Parsed = FApp->add_flag(name, value);
}

void TCommandLine::Number(const std::string& name, const std::string& valueName, int& value, int min, int max,
                          const std::string& help, TUsage usage)
{
    TArgument& argument =
        Add(TArgument(TArgumentKind::Number, name, valueName, "", help, usage, usage == TUsage::Required));
    argument.NumberValue = &value;
    argument.Min = min;
    argument.Max = max;
    // Read as text and checked with the others, so that the error names the range.
    argument.Parsed = FApp->add_option(name, argument.Text)->multi_option_policy(CLI::MultiOptionPolicy::TakeLast);
}

void TCommandLine::Choice(const std::string& name, std::string& value, std::vector<std::string> choices,
                          const std::string& help)
{
    std::string valueName;
    for (const std::string& choice : choices)
        valueName += (valueName.empty() ? "" : "|") + choice;
    TArgument& argument = Add(TArgument(TArgumentKind::Choice, name, valueName, "", help));
    argument.ChoiceValue = &value;
    argument.Choices = std::move(choices);
    argument.Parsed = FApp->add_option(name, value)->multi_option_policy(CLI::MultiOptionPolicy::TakeLast);
}

void TCommandLine::Excludes(const std::string& name, std::vector<std::string> others, std::string message)
{
    FRules.push_back({TRuleKind::Excludes, name, std::move(others), std::move(message)});
}

void TCommandLine::Needs(const std::string& name, std::vector<std::string> others, std::string why)
{
    FRules.push_back({TRuleKind::Needs, name, std::move(others), std::move(why)});
}

void TCommandLine::Alternatives(std::vector<std::string> names, std::string message)
{
    FRules.push_back({TRuleKind::Alternatives, names.front(), std::move(names), std::move(message)});
}

void TCommandLine::Form(std::vector<std::string> names)
{
    FForms.push_back(std::move(names));
}

void TCommandLine::ExtraNote(std::string note)
{
    FExtraNote = std::move(note);
}

void TCommandLine::StopAtFirstPositional(std::string restName)
{
    FRestName = std::move(restName);
    FApp->prefix_command();
}

const TCommandLine::TArgument* TCommandLine::Find(const std::string& name) const
{
    const auto found = std::find_if(FArguments.begin(), FArguments.end(),
                                    [&](const TArgument& argument) { return argument.Name == name; });
    return found == FArguments.end() ? nullptr : &*found;
}

bool TCommandLine::Given(const std::string& name) const
{
    const TArgument* argument = Find(name);
    return argument && argument->Parsed->count() > 0;
}

bool TCommandLine::Parse(const std::vector<std::string>& arguments)
{
    // CLI11 takes the arguments last first.
    std::vector<std::string> reversed(arguments.rbegin(), arguments.rend());
    try {
        FApp->parse(reversed);
    } catch (const CLI::CallForHelp&) {
        return false;
    } catch (const CLI::ArgumentMismatch& e) {
        // "--p1: 1 required TEXT missing"
        const std::string what = e.what();
        const std::string name = what.substr(0, what.find(':'));
        if (Find(name))
            Fail("option " + name + " needs a value");
        Fail(what);
    } catch (const CLI::ParseError& e) {
        Fail(e.what());
    }
    if (!FRestName.empty())
        FRest = FApp->remaining();
    else if (!FApp->remaining().empty())
        FailExtra(FApp->remaining().front());
    CheckArguments();
    return true;
}

void TCommandLine::FailExtra(const std::string& argument) const
{
    std::string problem;
    const auto positionals = std::count_if(FArguments.begin(), FArguments.end(), [](const TArgument& a) {
        return a.Kind == TArgumentKind::Positional || a.Kind == TArgumentKind::Positionals;
    });
    if (argument.size() > 1 && argument[0] == '-')
        problem = "unknown option " + argument;
    else if (positionals == 1 && FArguments.front().Kind == TArgumentKind::Positional)
        problem = "a second " + FArguments.front().Noun.substr(FArguments.front().Noun.find(' ') + 1) + " " + argument;
    else if (positionals == 0)
        problem = "unexpected argument " + argument;
    else
        problem = "an argument too many: " + argument;
    Fail(FExtraNote.empty() ? problem : problem + " (" + FExtraNote + ")");
}

void TCommandLine::Check(const TRule& rule) const
{
    std::vector<std::string> given, missing;
    for (const std::string& other : rule.Others)
        (Given(other) ? given : missing).push_back(other);
    switch (rule.Kind) {
    case TRuleKind::Excludes:
        if (Given(rule.Name) && !given.empty())
            Fail(!rule.Message.empty() ? rule.Message : rule.Name + " takes the place of " + Listed(rule.Others));
        break;
    case TRuleKind::Needs:
        if (Given(rule.Name) && !missing.empty())
            Fail(rule.Name + " needs " + Listed(rule.Others) + (rule.Message.empty() ? "" : ", " + rule.Message));
        break;
    case TRuleKind::Alternatives:
        if (given.size() > 1)
            Fail(!rule.Message.empty() ? rule.Message : FName + " needs either " + Listed(rule.Others, " or "));
        break;
    }
}

void TCommandLine::CheckArguments() const
{
    for (const TRule& rule : FRules)
        Check(rule);
    std::vector<std::string> needed;
    bool missing = false;
    for (const TArgument& argument : FArguments) {
        if (!argument.Required)
            continue;
        needed.push_back(argument.Noun.empty() ? argument.Name : argument.Noun);
        missing = missing || argument.Parsed->count() == 0;
    }
    if (missing)
        Fail(FName + " needs " + Listed(needed));
    for (const TArgument& argument : FArguments) {
        if (argument.Parsed->count() == 0)
            continue;
        if (argument.Kind == TArgumentKind::Number) {
            const char* end = argument.Text.data() + argument.Text.size();
            int value = 0;
            const auto read = std::from_chars(argument.Text.data(), end, value);
            if (argument.Text.empty() || read.ec != std::errc() || read.ptr != end || value < argument.Min ||
                value > argument.Max)
                Fail(argument.Name + " needs a number from " + std::to_string(argument.Min) + " to " +
                     std::to_string(argument.Max) + ", not '" + argument.Text + "'");
            *argument.NumberValue = value;
        }
        if (argument.Kind == TArgumentKind::Choice &&
            std::find(argument.Choices.begin(), argument.Choices.end(), *argument.ChoiceValue) ==
                argument.Choices.end())
            Fail(argument.Name + " takes " + Listed(argument.Choices, " or ") + ", not " + *argument.ChoiceValue);
    }
}

void TCommandLine::Fail(const std::string& problem) const
{
    RaiseUsage(Usage(), problem);
}

std::string TCommandLine::Rendered(const TArgument& argument) const
{
    if (argument.Kind == TArgumentKind::Positionals)
        return argument.Name + "...";
    if (argument.ValueName.empty())
        return argument.Name;
    return argument.Name + " " + argument.ValueName;
}

std::string TCommandLine::Rendered(const std::string& name) const
{
    const TArgument* argument = Find(name);
    return argument ? Rendered(*argument) : name;
}

namespace {

std::string Joined(const std::vector<std::string>& tokens)
{
    std::string text;
    for (const std::string& token : tokens)
        text += (text.empty() ? "" : " ") + token;
    return text;
}

// The tokens wrapped as a usage line is, each whole on its line; the first
// line starts at column first, the others at indent.
std::string WrappedTokens(const std::vector<std::string>& tokens, size_t first, size_t indent, size_t width = 79)
{
    std::string text, line;
    size_t start = first;
    for (const std::string& token : tokens) {
        if (!line.empty() && start + line.size() + 1 + token.size() > width) {
            text += line + "\n" + std::string(indent, ' ');
            line.clear();
            start = indent;
        }
        line += (line.empty() ? "" : " ") + token;
    }
    return text + line;
}

} // namespace

std::vector<std::string> TCommandLine::UsageTokens() const
{
    std::vector<std::string> tokens = {"pinwright-cli"};
    if (!FName.empty())
        tokens.push_back(FName);
    const TRule* group = nullptr;
    for (const TRule& rule : FRules)
        if (rule.Kind == TRuleKind::Alternatives)
            group = &rule;
    const auto inGroup = [&](const std::string& name) {
        return group && std::find(group->Others.begin(), group->Others.end(), name) != group->Others.end();
    };
    const size_t optional = std::count_if(FArguments.begin(), FArguments.end(), [&](const TArgument& a) {
        return a.Usage == TUsage::Optional && !inGroup(a.Name);
    });
    for (const TArgument& argument : FArguments) {
        if (group && argument.Name == group->Name) {
            std::string members;
            for (const std::string& name : group->Others)
                members += (members.empty() ? "(" : " | ") + Rendered(name);
            tokens.push_back(members + ")");
        } else if (inGroup(argument.Name)) {
            continue;
        } else if (argument.Usage != TUsage::Optional) {
            tokens.push_back(Rendered(argument));
        } else if (optional <= MaxOptionsShown) {
            tokens.push_back("[" + Rendered(argument) + "]");
        }
    }
    if (optional > MaxOptionsShown)
        tokens.push_back("[OPTIONS]");
    if (!FRestName.empty())
        tokens.push_back(FRestName);
    return tokens;
}

std::string TCommandLine::Usage() const
{
    return Joined(UsageTokens());
}

std::string TCommandLine::ShortUsage() const
{
    std::string text = FName;
    const bool needsOptions = !FForms.empty() || std::any_of(FArguments.begin(), FArguments.end(), [](const TArgument& a) {
        return a.Kind != TArgumentKind::Positional && a.Kind != TArgumentKind::Positionals && a.Usage != TUsage::Optional;
    });
    if (needsOptions)
        return text + " ARGUMENTS";
    for (const TArgument& argument : FArguments)
        if (argument.Kind == TArgumentKind::Positional || argument.Kind == TArgumentKind::Positionals)
            text += " " + Rendered(argument);
    return text;
}

std::vector<std::string> TCommandLine::UsageLines() const
{
    // Continuation lines start under the first argument.
    const size_t first = std::string("Usage: ").size();
    const size_t indent = std::string("Usage: pinwright-cli ").size() + (FName.empty() ? 0 : FName.size() + 1);
    std::vector<std::string> lines = {WrappedTokens(UsageTokens(), first, indent)};
    for (const std::vector<std::string>& form : FForms) {
        std::vector<std::string> tokens = {"pinwright-cli", FName};
        for (const std::string& name : form)
            tokens.push_back(Rendered(name));
        tokens.push_back("[OPTIONS]");
        lines.push_back(WrappedTokens(tokens, first, indent));
    }
    return lines;
}

std::string TCommandLine::HelpBody() const
{
    std::string text;
    if (!FDescription.empty())
        text += FDescription + "\n";
    std::string options;
    for (const TArgument& argument : FArguments) {
        if (argument.Kind == TArgumentKind::Positional || argument.Kind == TArgumentKind::Positionals)
            continue;
        std::string left = "  " + Rendered(argument);
        left += left.size() + 2 <= HelpColumn ? std::string(HelpColumn - left.size(), ' ')
                                              : "\n" + std::string(HelpColumn, ' ');
        options += left + Wrapped(argument.Help, HelpColumn) + "\n";
    }
    if (!options.empty())
        text += (text.empty() ? "" : "\n") + options;
    if (!FEpilogue.empty())
        text += (text.empty() ? "" : "\n") + FEpilogue + "\n";
    return text;
}

std::string Wrapped(const std::string& text, size_t indent, size_t width)
{
    std::string out;
    std::istringstream in(text);
    std::string source;
    bool first = true;
    const auto emit = [&](const std::string& line) {
        out += (first ? "" : "\n" + std::string(indent, ' ')) + line;
        first = false;
    };
    while (std::getline(in, source)) {
        // An indented line is a row of a table: it continues under its
        // second column.
        const size_t lead = std::min(source.find_first_not_of(' '), source.size());
        size_t hang = lead;
        if (lead > 0) {
            const size_t gap = source.find("  ", lead);
            if (gap != std::string::npos)
                hang = std::min(source.find_first_not_of(' ', gap), source.size());
        }
        // Blanks beyond the one between two words stay with the second.
        std::vector<std::string> words(1);
        for (size_t i = lead; i < source.size(); ++i) {
            if (source[i] == ' ' && !words.back().empty() && words.back().back() != ' ')
                words.emplace_back();
            else
                words.back() += source[i];
        }
        std::string line(lead, ' ');
        bool empty = true;
        for (std::string& word : words) {
            if (!empty && indent + line.size() + 1 + word.size() > width) {
                emit(line);
                line = std::string(hang, ' ');
                empty = true;
                word.erase(0, word.find_first_not_of(' '));
            }
            line += (empty ? "" : " ") + word;
            empty = false;
        }
        emit(line);
    }
    return out;
}
