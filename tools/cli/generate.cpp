// tarvo --generate man|bash|zsh|fish: the manual page and the shell
// completions, written from the commands and options as they are declared,
// so that neither can drift from what the command accepts. The build runs
// it and installs what it writes.
#include <string>
#include <string_view>
#include <vector>

#include "cli.h"

namespace tarvo::cli {

namespace {

struct OptionSpec {
    std::vector<std::string> names;     // "-A", "--ignore-wrong-attributes"
    std::string help, value;            // value: "" for a flag, else its type name ("N", "PATH", "a|b")
    std::vector<std::string> choices;   // the values of an option that takes one of a fixed set
    bool file = false;                  // takes a path
};

struct PositionalSpec {
    std::string name, help;
    bool many = false;
};

struct CommandSpec {
    std::string name, summary, usage, footer;
    std::vector<OptionSpec> options;
    std::vector<PositionalSpec> positionals;
};

std::vector<std::string> split(std::string_view s, char c) {
    std::vector<std::string> out;
    size_t start = 0;
    for (size_t i = 0; i <= s.size(); ++i)
        if (i == s.size() || s[i] == c) {
            out.emplace_back(s.substr(start, i - start));
            start = i + 1;
        }
    return out;
}

bool takes_path(const std::string& type) { return type == "PATH" || type == "FILE" || type == "DTD"; }

// What the parser knows of `app`'s options and positionals.
void collect(const CLI::App& app, CommandSpec& c) {
    for (const CLI::Option* o : app.get_options()) {
        if (o->get_positional()) {
            PositionalSpec p;
            p.name = o->get_name(true);
            p.help = o->get_description();
            p.many = o->get_items_expected_max() > 1;
            c.positionals.push_back(p);
            continue;
        }
        OptionSpec s;
        for (const std::string& n : o->get_snames()) s.names.push_back("-" + n);
        for (const std::string& n : o->get_lnames()) s.names.push_back("--" + n);
        s.help = o->get_description();
        if (o->get_type_size() != 0) {
            // What --help shows for the value: its own text when it has one.
            s.value = o->get_option_text().empty() ? o->get_type_name() : o->get_option_text();
            if (s.value.find('|') != std::string::npos) s.choices = split(s.value, '|');
            s.file = takes_path(s.value);
        }
        c.options.push_back(s);
    }
}

// The "Usage:" line of the command's help, without the word.
std::string usage_of(const CLI::App& app) {
    for (const std::string& line : split(app.help(), '\n'))
        if (line.rfind("Usage: ", 0) == 0) {
            // A command's own help starts its usage with the command's name.
            std::string usage = line.substr(7);
            return app.get_parent() && usage.rfind("tarvo ", 0) != 0 ? "tarvo " + usage : usage;
        }
    return app.get_name();
}

std::vector<CommandSpec> commands_of(CLI::App& app, CommandSpec& top) {
    top.name = app.get_name();
    top.summary = app.get_description();
    top.usage = usage_of(app);
    top.footer = app.get_footer();
    collect(app, top);
    std::vector<CommandSpec> out;
    for (const CLI::App* sub : app.get_subcommands([](const CLI::App*) { return true; })) {
        CommandSpec c;
        c.name = sub->get_name();
        c.summary = sub->get_description();
        c.usage = usage_of(*sub);
        c.footer = sub->get_footer();
        collect(*sub, c);
        out.push_back(c);
    }
    return out;
}

std::string join(const std::vector<std::string>& items, std::string_view between) {
    std::string out;
    for (const std::string& s : items) out += (out.empty() ? "" : std::string(between)) + s;
    return out;
}

// ---------------------------------------------------------------------------
// The manual page, in the man macros.

std::string roff(std::string_view s) {
    std::string out;
    for (char ch : s) {
        if (ch == '\\')
            out += "\\e";
        else if (ch == '-')
            out += "\\-";
        else
            out += ch;
    }
    return out;
}

// A line of text that no leading dot or quote turns into a request.
std::string roff_line(std::string_view s) {
    std::string l = roff(s);
    return !l.empty() && (l[0] == '.' || l[0] == '\'') ? "\\&" + l : l;
}

// Text kept as written, line by line: a footer's tables and lists.
std::string roff_block(std::string_view text) {
    std::string out = ".nf\n";
    for (const std::string& line : split(text, '\n')) out += roff_line(line) + "\n";
    return out + ".fi\n";
}

std::string option_roff(const OptionSpec& o) {
    std::vector<std::string> names;
    for (const std::string& n : o.names) names.push_back("\\fB" + roff(n) + "\\fR");
    std::string head = join(names, ", ");
    if (!o.value.empty()) head += " \\fI" + roff(o.value) + "\\fR";
    return ".TP\n" + head + "\n" + roff_line(o.help) + "\n";
}

std::string man_page(const CommandSpec& top, const std::vector<CommandSpec>& commands) {
    // The top summary reads "tarvo: what it is".
    const size_t colon = top.summary.find(": ");
    const std::string about = roff(colon == std::string::npos ? top.summary : top.summary.substr(colon + 2));
    std::string out = ".TH TARVO 1 \"\" \"tarvo " TARVO_CLI_VERSION "\" \"User Commands\"\n";
    out += ".SH NAME\ntarvo \\- " + about + "\n";
    out += ".SH SYNOPSIS\n";
    for (const CommandSpec& c : commands) {
        const std::string head = "tarvo " + c.name;
        std::string rest = c.usage.rfind(head + " ", 0) == 0 ? c.usage.substr(head.size() + 1) : "";
        out += ".B " + roff(head) + "\n" + roff(rest) + "\n.br\n";
    }
    out += ".B tarvo \\-\\-version\n.br\n.B tarvo \\-\\-help\n";
    out += ".SH DESCRIPTION\n\\fBtarvo\\fR is " + about + ".\nEach command below has its own options and help ("
           "\\fBtarvo\\fR \\fICOMMAND\\fR \\fB\\-\\-help\\fR).\n";
    out += ".SH OPTIONS\n";
    for (const OptionSpec& o : top.options) out += option_roff(o);
    out += ".SH COMMANDS\n";
    for (const CommandSpec& c : commands) {
        out += ".SS \"" + roff(c.usage) + "\"\n" + roff_line(c.summary) + ".\n";
        for (const PositionalSpec& p : c.positionals)
            out += ".TP\n\\fI" + roff(p.name) + "\\fR" + (p.many ? "..." : "") + "\n" + roff_line(p.help) + "\n";
        for (const OptionSpec& o : c.options) out += option_roff(o);
        if (!c.footer.empty()) out += ".PP\n" + roff_block(c.footer);
    }
    out += ".SH EXIT STATUS\n" + roff_block(top.footer);
    out += ".SH FILES\n.TP\n\\fI" + roff("share/tarvo/grammars/*.grammar") +
           "\\fR\nThe grammar files of the built-in grammars, beside the installed command's "
           "\\fIbin\\fR directory; \\fBtarvo grammars\\fR names them.\n";
    return out;
}

// ---------------------------------------------------------------------------
// Completions. Grammar names come from 'tarvo grammars' when a GRAMMAR is
// completed, so loaded grammar files and other builds need nothing here.

// A word in single quotes for sh-like shells.
std::string sh_quoted(std::string_view s) {
    std::string out = "'";
    for (char ch : s) out += ch == '\'' ? std::string("'\\''") : std::string(1, ch);
    return out + "'";
}

const char kGrammarNames[] = "tarvo grammars 2>/dev/null | sed -n '2,/^total /{/^total /d;s/ .*//p;}'";

std::string bash_script(const CommandSpec& top, const std::vector<CommandSpec>& commands) {
    std::vector<std::string> names, top_options;
    for (const CommandSpec& c : commands) names.push_back(c.name);
    for (const OptionSpec& o : top.options) top_options.insert(top_options.end(), o.names.begin(), o.names.end());
    std::string out = "# bash completion for tarvo; written by 'tarvo --generate bash'.\n"
                      "_tarvo() {\n"
                      "    local cur=${COMP_WORDS[COMP_CWORD]} prev=${COMP_WORDS[COMP_CWORD-1]} cmd= i\n"
                      "    local -i operands=0 skip=0\n"
                      "    if [[ $prev == = && $COMP_CWORD -ge 2 ]]; then prev=${COMP_WORDS[COMP_CWORD-2]}; fi\n"
                      "    [[ $cur == = ]] && cur=\n"
                      "    for ((i = 1; i < COMP_CWORD; i++)); do\n"
                      "        local w=${COMP_WORDS[i]}\n"
                      "        if [[ -z $cmd ]]; then\n"
                      "            case $w in " + join(names, "|") + ") cmd=$w ;; esac\n"
                      "            continue\n"
                      "        fi\n"
                      "        if ((skip)); then skip=0; continue; fi\n"
                      "        [[ $w == = ]] && continue\n"
                      "        case $w in\n"
                      "            -*) [[ \" $_tarvo_valued \" == *\" $w \"* ]] && skip=1 ;;\n"
                      "            *) operands+=1 ;;\n"
                      "        esac\n"
                      "    done\n"
                      "    COMPREPLY=()\n"
                      "    if [[ -z $cmd ]]; then\n"
                      "        COMPREPLY=($(compgen -W " + sh_quoted(join(names, " ") + " " + join(top_options, " ")) +
                      " -- \"$cur\"))\n"
                      "        return\n"
                      "    fi\n"
                      "    local options= positional=\n"
                      "    case $cmd in\n";
    std::string valued;
    for (const CommandSpec& c : commands) {
        std::vector<std::string> all;
        std::string values;
        for (const OptionSpec& o : c.options) {
            all.insert(all.end(), o.names.begin(), o.names.end());
            if (o.value.empty()) continue;
            for (const std::string& n : o.names)
                if (valued.find(" " + n + " ") == std::string::npos) valued += " " + n + " ";
            std::string reply = o.choices.empty() ? (o.file ? "compgen -f -- \"$cur\"" : "")
                                                  : "compgen -W " + sh_quoted(join(o.choices, " ")) + " -- \"$cur\"";
            values += "                " + join(o.names, "|") + ") " +
                      (reply.empty() ? "" : "COMPREPLY=($(" + reply + ")); ") + "return ;;\n";
        }
        std::vector<std::string> kinds;
        for (const PositionalSpec& p : c.positionals) kinds.push_back(p.name + (p.many ? "..." : ""));
        out += "        " + c.name + ")\n"
               "            case $prev in\n" + values + "            esac\n"
               "            options=" + sh_quoted(join(all, " ")) + " positional=" + sh_quoted(join(kinds, " ")) + " ;;\n";
    }
    out += "    esac\n"
           "    if [[ $cur == -* ]]; then\n"
           "        COMPREPLY=($(compgen -W \"$options\" -- \"$cur\"))\n"
           "        return\n"
           "    fi\n"
           "    local -a kinds=($positional)\n"
           "    ((${#kinds[@]})) || return\n"
           "    local kind=${kinds[operands]:-${kinds[-1]}}\n"
           "    ((operands >= ${#kinds[@]})) && [[ ${kinds[-1]} != *... ]] && return\n"
           "    case $kind in\n"
           "        GRAMMAR) COMPREPLY=($(compgen -W \"$(" + std::string(kGrammarNames) + ")\" -- \"$cur\")) ;;\n"
           "        ELEMENT) ;;\n"
           "        *) COMPREPLY=($(compgen -f -- \"$cur\")) ;;\n"
           "    esac\n"
           "}\n"
           "_tarvo_valued=" + sh_quoted(valued.size() > 2 ? valued.substr(1, valued.size() - 2) : valued) + "\n"
           "complete -o filenames -F _tarvo tarvo\n";
    return out;
}

// zsh: text inside _arguments' brackets.
std::string zsh_text(std::string_view s) {
    std::string out;
    for (char ch : s) {
        if (ch == '[' || ch == ']' || ch == '\\' || ch == ':') out += '\\';
        out += ch;
    }
    return out;
}

std::string zsh_option(const OptionSpec& o) {
    std::string action;
    if (!o.value.empty())
        action = ":" + zsh_text(o.value) + ":" +
                 (o.choices.empty() ? (o.file ? "_files" : " ") : "(" + join(o.choices, " ") + ")");
    std::string described = "[" + zsh_text(o.help) + "]" + action;
    if (o.names.size() == 1) return sh_quoted(o.names[0] + described);
    return sh_quoted("(" + join(o.names, " ") + ")") + "{" + join(o.names, ",") + "}" + sh_quoted(described);
}

std::string zsh_script(const CommandSpec& top, const std::vector<CommandSpec>& commands) {
    std::string out = "#compdef tarvo\n# zsh completion for tarvo; written by 'tarvo --generate zsh'.\n"
                      "_tarvo_grammars() {\n"
                      "    local -a names\n"
                      "    names=(${(f)\"$(" + std::string(kGrammarNames) + ")\"})\n"
                      "    _describe -t grammars grammar names\n"
                      "}\n"
                      "_tarvo() {\n"
                      "    local curcontext=$curcontext state line\n"
                      "    local -a commands\n"
                      "    commands=(\n";
    for (const CommandSpec& c : commands) out += "        " + sh_quoted(c.name + ":" + c.summary) + "\n";
    out += "    )\n    _arguments -C \\\n";
    for (const OptionSpec& o : top.options) out += "        " + zsh_option(o) + " \\\n";
    out += "        '1:command:->command' '*::argument:->argument'\n"
           "    case $state in\n"
           "        command) _describe -t commands 'tarvo command' commands ;;\n"
           "        argument)\n"
           "            case $line[1] in\n";
    for (const CommandSpec& c : commands) {
        out += "                " + c.name + ") _arguments -s \\\n";
        for (const OptionSpec& o : c.options) out += "                    " + zsh_option(o) + " \\\n";
        for (size_t i = 0; i < c.positionals.size(); ++i) {
            const PositionalSpec& p = c.positionals[i];
            std::string action = p.name == "GRAMMAR" ? "_tarvo_grammars" : p.name == "ELEMENT" ? " " : "_files";
            out += "                    '" + (p.many ? std::string("*") : std::to_string(i + 1)) + ":" + p.name +
                   ":" + action + "' \\\n";
        }
        out += "                    ;;\n";
    }
    out += "            esac ;;\n"
           "    esac\n"
           "}\n"
           "_tarvo \"$@\"\n";
    return out;
}

std::string fish_script(const CommandSpec& top, const std::vector<CommandSpec>& commands) {
    std::vector<std::string> names;
    for (const CommandSpec& c : commands) names.push_back(c.name);
    std::string out = "# fish completion for tarvo; written by 'tarvo --generate fish'.\n"
                      "complete -c tarvo -f\n";
    auto option_line = [](const std::string& condition, const OptionSpec& o) {
        std::string line = "complete -c tarvo -n " + sh_quoted(condition);
        for (const std::string& n : o.names) line += (n.size() == 2 ? " -s " + n.substr(1) : " -l " + n.substr(2));
        if (!o.value.empty()) line += o.choices.empty() ? (o.file ? " -r -F" : " -x") : " -x -a " + sh_quoted(join(o.choices, " "));
        return line + " -d " + sh_quoted(o.help) + "\n";
    };
    for (const OptionSpec& o : top.options) out += option_line("__fish_use_subcommand", o);
    for (const CommandSpec& c : commands)
        out += "complete -c tarvo -n __fish_use_subcommand -a " + c.name + " -d " + sh_quoted(c.summary) + "\n";
    for (const CommandSpec& c : commands) {
        const std::string condition = "__fish_seen_subcommand_from " + c.name;
        for (const OptionSpec& o : c.options) out += option_line(condition, o);
        bool files = false;
        for (const PositionalSpec& p : c.positionals) {
            if (p.name == "GRAMMAR")
                out += "complete -c tarvo -n " + sh_quoted(condition) + " -a " + sh_quoted("(" + std::string(kGrammarNames) + ")") +
                       " -d grammar\n";
            files = files || (p.name != "GRAMMAR" && p.name != "ELEMENT");
        }
        if (files) out += "complete -c tarvo -n " + sh_quoted(condition) + " -F\n";
    }
    return out;
}

}  // namespace

int generate(CLI::App& app, std::string_view what) {
    CommandSpec top;
    std::vector<CommandSpec> commands = commands_of(app, top);
    if (what == "man")
        write_out(man_page(top, commands));
    else if (what == "bash")
        write_out(bash_script(top, commands));
    else if (what == "zsh")
        write_out(zsh_script(top, commands));
    else if (what == "fish")
        write_out(fish_script(top, commands));
    else {
        report_error("tarvo: --generate takes man, bash, zsh or fish, not '" + std::string(what) + "'");
        return kExitUsage;
    }
    return kExitValid;
}

}  // namespace tarvo::cli
