// gevtl: a command-line GenTL consumer for GigE Vision cameras, driving any producer.
#include <algorithm>
#include <exception>
#include <iostream>

#include "Tool.h"

using namespace Gevtl;

namespace {

std::vector<Command> Commands() {
    return {ListCommand(), GetCommand(),    SetCommand(),     FeaturesCommand(),
            InfoCommand(), ReadCommand(),   WriteCommand(),   XmlCommand(),
            GrabCommand(), EventsCommand(), ForceIpCommand(), DemoCommand()};
}

void PrintUsage(std::ostream& out, const std::vector<Command>& commands) {
    out << "usage: gevtl COMMAND [options] ...\n\ncommands:\n";
    for (const auto& command : commands) {
        std::string name = command.name;
        name.resize(10, ' ');
        out << "  " << name << command.summary << "\n";
    }
    out << "\n'gevtl COMMAND --help' describes a command and its options.\n";
}

void PrintCommandHelp(std::ostream& out, const Command& command) {
    out << "usage: gevtl " << command.name << " " << command.usage << "\n\n"
        << command.summary << "\n\noptions:\n";
    auto printOption = [&](const OptionSpec& option) {
        std::string name = option.name + (option.takesValue ? " VALUE" : "");
        name.resize(std::max<size_t>(name.size() + 2, 20), ' ');
        out << "  " << name << option.help << "\n";
    };
    for (const auto& option : command.options) printOption(option);
    for (const auto& option : CommonOptions()) printOption(option);
}

}  // namespace

int main(int argc, char** argv) {
    const std::vector<Command> commands = Commands();
    if (argc < 2) {
        PrintUsage(std::cerr, commands);
        return 2;
    }
    const std::string name = argv[1];
    if (name == "--help" || name == "-h" || name == "help") {
        PrintUsage(std::cout, commands);
        return 0;
    }
    const Command* command = nullptr;
    for (const auto& candidate : commands)
        if (name == candidate.name) command = &candidate;
    if (command == nullptr) {
        std::cerr << "gevtl: unknown command " << name << "\n";
        PrintUsage(std::cerr, commands);
        return 2;
    }
    std::vector<OptionSpec> options = command->options;
    options.insert(options.end(), CommonOptions().begin(), CommonOptions().end());
    try {
        Context context(Arguments({argv + 2, argv + argc}, options));
        if (context.Args().Has("--help")) {
            PrintCommandHelp(std::cout, *command);
            return 0;
        }
        return command->run(context);
    } catch (const UsageError& error) {
        std::cerr << "gevtl " << command->name << ": " << error.what() << "\nusage: gevtl "
                  << command->name << " " << command->usage << "\n";
        return 2;
    } catch (const std::exception& error) {
        // GenTL failures carry the producer's error text (GCGetLastError) in their message.
        std::cerr << "gevtl " << command->name << ": " << error.what() << "\n";
        return 1;
    }
}
