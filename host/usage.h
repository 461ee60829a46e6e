// The one usage text of `marlune`: `marlune help`, a wrong command line and
// the README's copy all come from here, the host commands from their
// registry.
#pragma once

#include <string>

// The verbs, one line each with what it does (the README shows this block).
std::string Synopsis();
// "usage: marlune VERB ..." for one verb's wrong command line.
std::string VerbUsage(const std::string& verb);
// Everything `marlune help` prints: the synopsis, the host's requests and
// its commands, each with its declared fields, the host's own apart from
// the simulator's.
std::string Usage();
