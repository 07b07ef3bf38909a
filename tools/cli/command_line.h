#pragma once
// The command line of one pinwright-cli command, declared once: its
// arguments, their help and the rules between them. The usage line, the
// command's --help (and so the manual page) and the usage errors for a
// missing, unknown or malformed argument are all made from the declaration;
// CLI11 reads the arguments.
//
// A command is a class of its own file: Declare binds its members to the
// arguments, Run does the work once they are read. It is made known by a
// registration in that file and shown by one row of main.cpp's table.
#include <deque>
#include <memory>
#include <string>
#include <vector>

namespace CLI {
class App;
}

class TCommandLine;

class TCommand {
public:
    virtual ~TCommand() = default;
    virtual void Declare(TCommandLine& line) = 0;
    // The process exit status; errors are raised (cli_support.h).
    virtual int Run() = 0;
};

using TCommandFactory = std::unique_ptr<TCommand> (*)();

template <class TConcreteCommand>
std::unique_ptr<TCommand> MakeCommand()
{
    return std::make_unique<TConcreteCommand>();
}

// Makes a command known under its key: its name, or "NAME --OPTION" for a
// form of the command chosen by that option (georef --batch).
struct TCommandRegistration {
    TCommandRegistration(const char* key, TCommandFactory make);
};

// The command registered under key; null when there is none.
TCommandFactory FindCommand(const std::string& key);
// Every key registered.
std::vector<std::string> RegisteredCommands();

// How an option shows in the usage line.
enum class TUsage {
    Optional, // [--name VALUE], or within [OPTIONS] when there are many
    Shown,    // --name VALUE: what the command mostly needs (the command checks it)
    Required  // --name VALUE, and its absence is a usage error
};

class TCommandLine {
public:
    explicit TCommandLine(std::string name);
    ~TCommandLine();
    TCommandLine(const TCommandLine&) = delete;
    TCommandLine& operator=(const TCommandLine&) = delete;

    // One line of the program's list of commands.
    void Summary(std::string text);
    // Prose of the help before the options and after them, as written.
    void Description(std::string text);
    void Epilogue(std::string text);

    // An argument without dashes, called noun in messages ("an image").
    // A required one missing is a usage error naming every required one.
    void Positional(const std::string& name, const std::string& noun, std::string& value, bool required = true);
    // One or more arguments (NAME...).
    void Positionals(const std::string& name, const std::string& noun, std::vector<std::string>& values);
    // --name VALUE, kept as typed; the last one given counts.
    void Option(const std::string& name, const std::string& valueName, std::string& value, const std::string& help,
                TUsage usage = TUsage::Optional);
    // --name VALUE that may be given more than once, every value kept in order.
    void Option(const std::string& name, const std::string& valueName, std::vector<std::string>& values,
                const std::string& help, TUsage usage = TUsage::Optional);
    void Flag(const std::string& name, bool& value, const std::string& help);
    // --name N, a whole number from min to max.
    void Number(const std::string& name, const std::string& valueName, int& value, int min, int max,
                const std::string& help, TUsage usage = TUsage::Optional);
    // --name one of choices; value keeps its default when not given.
    void Choice(const std::string& name, std::string& value, std::vector<std::string> choices,
                const std::string& help);

    // Rules, checked in the order declared once the arguments are read.
    // name with any of others: "NAME takes the place of A, B and C", or message.
    void Excludes(const std::string& name, std::vector<std::string> others, std::string message = {});
    // name without every one of others: "NAME needs A and B", then ", why".
    void Needs(const std::string& name, std::vector<std::string> others, std::string why = {});
    // Options that go one at a time, shown as "(--a A | --b B)" in the
    // usage; more than one: "NAME needs either --a or --b", or message.
    void Alternatives(std::vector<std::string> names, std::string message = {});
    // Another way to call the command, for the help: these arguments, then
    // [OPTIONS].
    void Form(std::vector<std::string> names);
    // Appended in brackets to the error for an argument not declared.
    void ExtraNote(std::string note);
    // Everything from the first argument without dashes on is left to
    // Rest(), for a program that runs a command given after its options.
    void StopAtFirstPositional(std::string restName);

    // Reads the arguments that follow the command's name. False when --help
    // was asked for; raises the usage error for anything the declaration
    // does not allow.
    bool Parse(const std::vector<std::string>& arguments);
    bool Given(const std::string& name) const;
    const std::vector<std::string>& Rest() const { return FRest; }
    // Raises the usage error: problem, then the usage line.
    [[noreturn]] void Fail(const std::string& problem) const;

    const std::string& Name() const { return FName; }
    const std::string& SummaryText() const { return FSummary; }
    // "pinwright-cli NAME ARGUMENTS..." on one line.
    std::string Usage() const;
    // For the program's usage: "NAME POSITIONALS", or "NAME ARGUMENTS" when
    // the command needs options too.
    std::string ShortUsage() const;
    // The usage line and every form, each wrapped.
    std::vector<std::string> UsageLines() const;
    // Description, the options with their help, epilogue.
    std::string HelpBody() const;

private:
    struct TArgument;
    struct TRule;
    const TArgument* Find(const std::string& name) const;
    TArgument& Add(TArgument argument);
    std::vector<std::string> UsageTokens() const;
    std::string Rendered(const std::string& name) const;
    std::string Rendered(const TArgument& argument) const;
    void CheckArguments() const;
    void Check(const TRule& rule) const;
    [[noreturn]] void FailExtra(const std::string& argument) const;

    std::string FName, FSummary, FDescription, FEpilogue, FExtraNote, FRestName;
    std::deque<TArgument> FArguments; // a deque: CLI11 keeps pointers into them
    std::vector<TRule> FRules;
    std::vector<std::vector<std::string>> FForms;
    std::vector<std::string> FRest;
    std::unique_ptr<CLI::App> FApp;
};

// text broken into lines of at most width characters, every line after the
// first indented by indent blanks. A line break in text is kept, and a line
// that starts with blanks keeps them on its continuation lines too.
std::string Wrapped(const std::string& text, size_t indent, size_t width = 79);
