#include "volume.h"
#include "oracle.h"
#include "test_env.h"
#include <algorithm>
#include <stdlib.h>

bool linux_in(const std::wstring& dir, const std::string& script)
{
    int st = -1;
    linux_sh("D=" + sh_quote(to_linux_path(dir)) + "; cd \"$D\" || exit 9\n" + script, &st, 600000);
    return st == 0;
}

std::map<std::wstring, FileReport> linux_report(const std::wstring& dir)
{
    static const char script[] =
        "find . -type f | LC_ALL=C sort | while IFS= read -r f; do\n"
        "  if [ -e \"$f:z\" ]; then zs=$(stat -c %s \"$f:z\"); zh=$(od -An -v -tx1 \"$f:z\" | tr -d ' \\n');\n"
        "  else zs=-1; zh=-; fi\n"
        "  wp=$(openssl dgst -provider legacy -provider default -whirlpool -r \"$f\" | cut -c1-128)\n"
        "  mt=$(stat -c %.9Y \"$f\" | tr -d .)\n"
        "  sh=$(sha256sum < \"$f\" | cut -c1-64)\n"
        "  printf '%s\\t%s\\t%s\\t%s\\t%s\\t%s\\n' \"${f#./}\" \"$zs\" \"$zh\" \"$wp\" \"$mt\" \"$sh\"\n"
        "done\n";
    int st = -1;
    std::string out = linux_sh("cd " + sh_quote(to_linux_path(dir)) + " && { " + script + " }", &st, 600000);
    std::map<std::wstring, FileReport> r;
    size_t pos = 0;
    while (pos < out.size()) {
        size_t end = out.find('\n', pos);
        if (end == std::string::npos) end = out.size();
        std::string line = out.substr(pos, end - pos);
        pos = end + 1;
        std::vector<std::string> f;
        size_t a = 0;
        for (;;) {
            size_t t = line.find('\t', a);
            f.push_back(line.substr(a, t == std::string::npos ? std::string::npos : t - a));
            if (t == std::string::npos) break;
            a = t + 1;
        }
        if (f.size() != 6) continue;
        std::wstring rel = widen(f[0]);
        for (auto& c : rel)
            if (c == L'/') c = L'\\';
        FileReport fr;
        fr.stream_size = atoll(f[1].c_str());
        fr.stream_hex = f[2] == "-" ? "" : f[2];
        fr.whirlpool_hex = f[3];
        fr.mtime_ns = atoll(f[4].c_str());
        fr.sha256_hex = f[5];
        r[dir + L"\\" + rel] = fr;
    }
    return r;
}

bool linux_store_digests(const std::wstring& dir, const std::vector<std::string>& relative)
{
    std::string script;
    for (const std::string& rel : relative)
        script += "openssl dgst -provider legacy -provider default -whirlpool -r " + sh_quote(rel) +
                  " | cut -c1-128 | xxd -r -p > " + sh_quote(rel + ":z") + " || exit 1\n";
    return linux_in(dir, script);
}

std::vector<std::wstring> sorted(std::vector<std::wstring> v)
{
    std::sort(v.begin(), v.end());
    return v;
}

std::vector<std::wstring> keys_of(const std::map<std::wstring, FileReport>& m)
{
    std::vector<std::wstring> v;
    for (auto& kv : m) v.push_back(kv.first);
    return v;  // a std::map is already in order
}

long long linux_reader_rchar(const std::string& linux_path)
{
    std::string script =
        "P=" + sh_quote(linux_path) +
        "\nfor d in /proc/[0-9]*; do for fd in \"$d\"/fd/*; do\n"
        "  if [ \"$(readlink \"$fd\" 2>/dev/null)\" = \"$P\" ]; then sed -n 's/^rchar: //p' \"$d/io\"; exit 0; fi\n"
        "done; done 2>/dev/null; echo -1";
    std::string out = linux_sh(script);
    return out.empty() ? -1 : atoll(out.c_str());
}
