// Reading the command line into the flags and the mode.
#include "app/args.h"

#include <cstdarg>
#include <cstring>

#include "app/console.h"
#include "device/scan.h"

const char ARG_ELEVATED[] = "--elevated";

namespace {

int is(const char* s, const char* option) { return strcmp(s, option) == 0; }

// One line naming what is wrong, and where to read how it is right.
int usage_error(const char* f, ...) QF_PRINTF(1, 2);
int usage_error(const char* f, ...) {
    va_list ap;
    va_start(ap, f);
    verr(f, ap);
    va_end(ap);
    err("用法见 quillfen --help\n");
    return 0;
}

const char* const DRIVE_NAMES[] = {"", "--remove", "--blacklist", "--unblacklist", "--approve", "--unapprove"};

// The options of the driven modes, and which modes take each: a script that
// puts one where it does nothing must hear so.
struct DriveOption {
    const char* name;
    int modes;  // bit 1 << DRIVE_...
};
constexpr int REMOVE = 1 << DRIVE_REMOVE, BLACKLIST = 1 << DRIVE_BLACKLIST, UNBLACKLIST = 1 << DRIVE_UNBLACKLIST,
              APPROVE = 1 << DRIVE_APPROVE, UNAPPROVE = 1 << DRIVE_UNAPPROVE;
const DriveOption DRIVE_OPTIONS[] = {
    {"--hours", REMOVE | BLACKLIST | APPROVE}, {"--id", REMOVE | BLACKLIST | UNBLACKLIST | APPROVE | UNAPPROVE},
    {"--name", BLACKLIST | UNBLACKLIST | APPROVE}, {"--by-name", REMOVE | BLACKLIST},
    {"--all", UNBLACKLIST | UNAPPROVE}, {"--what-if", REMOVE | BLACKLIST | UNBLACKLIST | APPROVE | UNAPPROVE},
    {"--model", REMOVE | BLACKLIST | UNBLACKLIST | APPROVE | UNAPPROVE},
};

// Which modes take `option`, as a text for the error line.
const char* takers(int modes, char* buf, size_t size) {
    buf[0] = 0;
    for (int m = DRIVE_REMOVE; m <= DRIVE_UNAPPROVE; m++) {
        if (!(modes & (1 << m))) continue;
        size_t n = strlen(buf);
        fmt(buf + n, size - n, "%s%s", n ? " 或 " : "", DRIVE_NAMES[m]);
    }
    return buf;
}

// A value the option needs: the next argument, whatever it looks like.
const char* value_of(int argc, char** argv, int* i) { return *i + 1 < argc ? argv[++*i] : nullptr; }

// What a driven mode needs, and what it may not be given with.
// seen: bit k for each DRIVE_OPTIONS[k] given.
int check_drive(const Args& a, int seen) {
    char buf[128];
    for (int k = 0; k < (int)countof(DRIVE_OPTIONS); k++) {
        const DriveOption& o = DRIVE_OPTIONS[k];
        if ((seen & (1 << k)) && !(o.modes & (1 << a.drive)))
            return usage_error("[错误] %s 只能与 %s 一起用\n", o.name, takers(o.modes, buf, sizeof buf));
    }
    if (a.drive == DRIVE_NONE) return 1;
    const char* mode = DRIVE_NAMES[a.drive];
    const char* other = a.enforce ? "--enforce" : a.install_task ? "--install-task" : a.remove_task ? "--remove-task"
                      : a.check ? "--check" : a.blist ? "--blist" : a.scan_only ? "-s" : nullptr;
    if (other) return usage_error("[错误] %s 不能与 %s 一起用\n", mode, other);
    if (a.drive != DRIVE_REMOVE && a.nids > 1) return usage_error("[错误] %s 只能给一个 --id\n", mode);
    // A model rule is a rule of its own: never with an instance id, nor by name.
    if (a.model && (a.nids > 0 || a.by_name))
        return usage_error("[错误] --model 不能与 %s 一起用\n", a.nids > 0 ? "--id" : "--by-name");
    if (a.drive == DRIVE_BLACKLIST) {
        if (!a.hours) return usage_error("[错误] %s 需要 --hours\n", mode);
        if (!a.name && a.nids == 0 && !a.model) return usage_error("[错误] %s 需要 --name、--id 或 --model\n", mode);
        if (a.by_name && !a.name) return usage_error("[错误] --by-name 需要 --name\n");
    } else if (a.drive == DRIVE_UNBLACKLIST || a.drive == DRIVE_UNAPPROVE) {
        int given = (a.nids > 0) + (a.name != nullptr) + a.all + (a.model != nullptr);
        const char* list = a.drive == DRIVE_UNBLACKLIST ? "--id、--name、--model 或 --all" : "--id、--model 或 --all";
        if (given == 0) return usage_error("[错误] %s 需要 %s\n", mode, list);
        if (given > 1) return usage_error("[错误] %s 的 %s 只能给一个\n", mode, list);
    } else if (a.drive == DRIVE_APPROVE) {
        if (!a.hours) return usage_error("[错误] %s 需要 --hours\n", mode);
        if ((a.nids > 0) + (a.model != nullptr) != 1) return usage_error("[错误] %s 需要 --model 或 --id（只给一个）\n", mode);
    } else if (a.by_name && !a.hours) {
        return usage_error("[错误] --by-name 需要 --hours\n");
    } else if (a.model && g_key[0]) {
        return usage_error("[错误] --model 不能与 -k 一起用\n");
    }
    return 1;
}

}  // namespace

int parse_args(int argc, char** argv, Args* a) {
    // The driven modes' options seen, to check against the mode at the end.
    int seen = 0;
    for (int i = 1; i < argc; i++) {
        const char* s = argv[i];
        int drive = is(s, "--remove") ? DRIVE_REMOVE : is(s, "--blacklist") ? DRIVE_BLACKLIST
                  : is(s, "--unblacklist") ? DRIVE_UNBLACKLIST : is(s, "--approve") ? DRIVE_APPROVE
                  : is(s, "--unapprove") ? DRIVE_UNAPPROVE : DRIVE_NONE;
        for (int k = 0; k < (int)countof(DRIVE_OPTIONS); k++)
            if (is(s, DRIVE_OPTIONS[k].name)) seen |= 1 << k;
        if (drive != DRIVE_NONE) {
            if (a->drive != DRIVE_NONE && a->drive != drive)
                return usage_error("[错误] %s 不能与 %s 一起用\n", DRIVE_NAMES[drive], DRIVE_NAMES[a->drive]);
            a->drive = drive;
        } else if (is(s, "-s") || is(s, "--scan")) a->scan_only = 1;
        else if (is(s, "--force")) a->force = 1;
        else if (is(s, "--present-only")) a->scan_all = 0;
        else if (is(s, "--enforce")) a->enforce = 1;
        else if (is(s, "--install-task")) a->install_task = 1;
        else if (is(s, "--remove-task")) a->remove_task = 1;
        else if (is(s, "--blist")) a->blist = 1;
        else if (is(s, "--check")) a->check = 1;
        else if (is(s, "--json")) a->json = 1;
        else if (is(s, "--allow-unsafe-dir")) a->allow_unsafe = 1;
        else if (is(s, "-h") || is(s, "--help") || is(s, "/?") || is(s, "-?")) a->info = a->info ? a->info : ARGS_HELP;
        else if (is(s, "--version")) a->info = a->info ? a->info : ARGS_VERSION;
        else if (is(s, "-k") || is(s, "--key")) {
            const char* k = value_of(argc, argv, &i);
            if (!k) return usage_error("[错误] %s 后缺少关键词\n", s);
            set_key(k);
        } else if (is(s, "--hours")) {
            if (!(a->hours = value_of(argc, argv, &i))) return usage_error("[错误] %s 后缺少小时数\n", s);
        } else if (is(s, "--id")) {
            const char* id = value_of(argc, argv, &i);
            if (!id) return usage_error("[错误] %s 后缺少实例 ID\n", s);
            if (a->nids == ARGS_MAX_IDS) return usage_error("[错误] --id 最多给 %d 个\n", ARGS_MAX_IDS);
            a->ids[a->nids++] = id;
        } else if (is(s, "--name")) {
            if (a->name) return usage_error("[错误] %s 只能给一次\n", s);
            if (!(a->name = value_of(argc, argv, &i))) return usage_error("[错误] %s 后缺少名称\n", s);
        } else if (is(s, "--model")) {
            if (a->model) return usage_error("[错误] %s 只能给一次\n", s);
            if (!(a->model = value_of(argc, argv, &i))) return usage_error("[错误] %s 后缺少硬件 ID\n", s);
        } else if (is(s, "--by-name")) a->by_name = 1;
        else if (is(s, "--all")) a->all = 1;
        else if (is(s, "--what-if")) a->what_if = 1;
        else if (!is(s, ARG_ELEVATED)) {
            return usage_error("[错误] 未知参数：%s\n", s);
        }
    }
    return check_drive(*a, seen);
}
