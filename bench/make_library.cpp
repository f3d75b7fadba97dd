// Writes a library of catalogues for the library benchmarks: COUNT catalogues of ENTRIES rows each,
// one medium per catalogue, as the project's own workbooks (the one-title layout filled from the
// template) and, for a share of them, CP932 CSV files.
//
//     make_library OUTPUT_FOLDER TEMPLATE [--count 1000] [--entries 10000] [--seed 1]
//                  [--csv-percent 10] [--jobs 2]
//
// Everything follows from the seed: catalogue c is the same whatever the count, the job split or
// the order. Its rows are a tree of folders (depth up to 8, folder rows listed) holding files named
// as cameras, music rippers and office users name them (kanji, kana, ASCII, digits, spaces), each
// with a size and a last-write time. Every catalogue c also holds copies of the first eighth of
// catalogue c - 1's files (same name, size, date and time, other medium, other folder): with its own
// first eighth copied onward, a quarter of the file rows exist on a second medium.
//
// Files are named "<label>_<yyyyMMdd-HHmmss>.xlsx" (or .csv) as the window names what it saves.

#include "Catalogue.h"
#include "CsvWriter.h"
#include "EntryList.h"
#include "Failure.h"
#include "Presenters.h"
#include "SheetWriter.h"
#include "Workbook.h"

#include <QString>

#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <chrono>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <string_view>
#include <vector>

namespace {

using namespace kartoma;

/// splitmix64: small, fast and good enough to draw names from.
class Rng {
public:
    explicit Rng(std::uint64_t seed) : state_(seed) {}
    Rng(std::uint64_t seed, std::uint64_t a, std::uint64_t b, std::uint64_t stream)
        : state_(mix(mix(mix(seed) ^ a) ^ (b * 0x9E3779B97F4A7C15ULL)) ^ stream) {}

    std::uint64_t next() {
        state_ += 0x9E3779B97F4A7C15ULL;
        return mix(state_);
    }
    /// 0 .. n - 1
    std::uint32_t below(std::uint32_t n) { return static_cast<std::uint32_t>((next() >> 32) * n >> 32); }
    int between(int low, int high) { return low + static_cast<int>(below(static_cast<std::uint32_t>(high - low + 1))); }
    double unit() { return static_cast<double>(next() >> 11) * 0x1.0p-53; }
    bool chance(double p) { return unit() < p; }
    template <typename T, std::size_t N>
    const T& pick(const std::array<T, N>& items) {
        return items[below(static_cast<std::uint32_t>(N))];
    }

private:
    static std::uint64_t mix(std::uint64_t z) {
        z = (z ^ (z >> 30)) * 0xBF58476D1CE4E5B9ULL;
        z = (z ^ (z >> 27)) * 0x94D049BB133111EBULL;
        return z ^ (z >> 31);
    }
    std::uint64_t state_;
};

using Words = std::array<const char*, 24>;

enum Theme : int { Photo, Music, Document, Video, Misc, kThemes };

constexpr std::array<Words, kThemes> kTopFolders{{
    {"写真", "Photos", "DCIM", "デジカメ", "Pictures", "画像", "フォト", "写真 整理済み", "スマホ写真", "Camera Roll",
     "アルバム", "photo", "写真（家族）", "旅行写真", "スキャン", "Screenshots", "壁紙", "イラスト", "素材", "印刷用",
     "年賀状", "未整理", "JPEG", "RAW"},
    {"音楽", "Music", "iTunes", "ミュージック", "CD", "ライブ音源", "録音", "Podcasts", "サウンド", "BGM",
     "楽曲", "Audio", "ボイスメモ", "合唱", "吹奏楽", "Playlists", "ラジオ", "効果音", "カラオケ", "MP3",
     "FLAC", "ハイレゾ", "練習", "mix"},
    {"ドキュメント", "Documents", "仕事", "書類", "資料", "プロジェクト", "会議", "経理", "総務", "学校",
     "レポート", "My Documents", "契約書", "見積", "申請書類", "論文", "マニュアル", "Work", "税金", "保険",
     "PTA", "自治会", "履歴書", "取扱説明書"},
    {"動画", "Videos", "ビデオ", "Movies", "ホームビデオ", "録画", "ムービー", "AVCHD", "運動会", "発表会",
     "結婚式", "配信", "編集済み", "素材動画", "MP4", "ドラレコ", "ゲーム実況", "講義", "Webinar", "旅行動画",
     "子供", "ペット", "記録", "Clips"},
    {"その他", "Backup", "バックアップ", "ダウンロード", "Downloads", "デスクトップ", "Desktop", "old", "新しいフォルダー",
     "アーカイブ", "作業用", "tmp", "インストーラ", "Software", "Tools", "ゲーム", "設定", "ログ", "Temp",
     "保存用", "USB", "整理中", "共有", "Misc"},
}};

constexpr Words kPlaces{"東京", "大阪", "京都", "北海道", "沖縄", "箱根", "奈良", "横浜", "神戸", "福岡", "名古屋", "軽井沢",
                        "Hawaii", "Paris", "London", "台湾", "ソウル", "金沢", "日光", "仙台", "広島", "長崎", "鎌倉", "富士山"};
constexpr Words kEvents{"夏休み", "お正月", "運動会", "卒業式", "入学式", "誕生日", "結婚式", "花見", "紅葉", "クリスマス",
                        "ゴールデンウィーク", "七五三", "修学旅行", "社員旅行", "忘年会", "同窓会", "お祭り", "文化祭",
                        "発表会", "帰省", "キャンプ", "BBQ", "birthday", "trip"};
constexpr Words kTitles{"さくら", "ひまわり", "春の歌", "夏の終わり", "雨のち晴れ", "星空", "ミッドナイト", "風の街",
                        "Blue Sky", "Summer Breeze", "Morning Light", "Home", "おやすみ", "はじまりの朝", "海へ",
                        "ありがとう", "Dreamer", "First Step", "夕焼け小焼け", "ラストダンス", "光", "月夜", "Intro",
                        "Track"};
constexpr Words kArtists{"山田バンド", "鈴木花子", "The Pines", "さくら合唱団", "佐藤トリオ", "Blue Notes", "ミナミ",
                         "東京室内楽団", "Kaze", "高橋健一", "ひかり", "Orchestra Nova", "青空", "Night Owls",
                         "田中ゆり", "Sunset Drive", "中村カルテット", "Paper Moon", "ソラシド", "小林まさる",
                         "Riverside", "ななみ", "Echo Park", "伊藤楽団"};
constexpr Words kDocWords{"報告書", "議事録", "見積書", "請求書", "企画書", "提案資料", "会議資料", "予算案", "契約書",
                          "納品書", "日報", "週報", "月次報告", "meeting notes", "invoice", "report", "proposal",
                          "手順書", "仕様メモ", "名簿", "スケジュール", "アンケート集計", "お知らせ", "申込書"};
constexpr Words kMisc{"setup", "readme", "memo", "メモ", "install", "backup", "archive", "アーカイブ", "data", "データ",
                      "sample", "サンプル", "log", "ログ", "config", "設定", "list", "リスト", "old", "copy", "新規",
                      "無題", "untitled", "download"};

struct Kind {
    const char* extension;
    double minBytes;
    double maxBytes;
};
constexpr std::array<Kind, 6> kPhotoKinds{{{"jpg", 2e5, 8e6}, {"JPG", 1e6, 12e6}, {"JPG", 1e6, 12e6},
                                            {"png", 5e4, 6e6}, {"HEIC", 8e5, 4e6}, {"jpeg", 2e5, 5e6}}};
constexpr std::array<Kind, 6> kMusicKinds{{{"mp3", 2e6, 15e6}, {"mp3", 2e6, 15e6}, {"m4a", 2e6, 12e6},
                                            {"flac", 15e6, 60e6}, {"wav", 20e6, 80e6}, {"mp3", 1e6, 8e6}}};
constexpr std::array<Kind, 6> kDocumentKinds{{{"pdf", 3e4, 2e7}, {"docx", 1e4, 3e6}, {"xlsx", 8e3, 4e6},
                                               {"pptx", 1e5, 3e7}, {"txt", 1e2, 5e4}, {"csv", 1e3, 2e6}}};
constexpr std::array<Kind, 6> kVideoKinds{{{"mp4", 5e6, 4e9}, {"MP4", 2e7, 2e9}, {"mov", 5e6, 1e9},
                                            {"mkv", 1e8, 4e9}, {"MTS", 5e7, 2e9}, {"avi", 1e7, 7e8}}};
constexpr std::array<Kind, 6> kMiscKinds{{{"zip", 1e4, 5e8}, {"exe", 1e5, 2e8}, {"txt", 0, 2e4},
                                           {"7z", 1e5, 1e9}, {"iso", 3e8, 4.7e9}, {"dat", 0, 1e6}}};
constexpr std::array<const std::array<Kind, 6>*, kThemes> kKinds{&kPhotoKinds, &kMusicKinds, &kDocumentKinds,
                                                                  &kVideoKinds, &kMiscKinds};

std::string format(const char* pattern, auto... values) {
    char buffer[256];
    std::snprintf(buffer, sizeof buffer, pattern, values...);
    return buffer;
}

LocalStamp randomStamp(Rng& rng) {
    static constexpr int kDays[] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
    LocalStamp s;
    s.year = static_cast<std::uint16_t>(rng.between(1998, 2026));
    s.month = static_cast<std::uint8_t>(rng.between(1, 12));
    s.day = static_cast<std::uint8_t>(rng.between(1, kDays[s.month - 1]));
    s.hour = static_cast<std::uint8_t>(rng.between(0, 23));
    s.minute = static_cast<std::uint8_t>(rng.between(0, 59));
    s.second = static_cast<std::uint8_t>(rng.between(0, 59));
    return s;
}

/// One file as every medium that holds it lists it.
struct File {
    Theme theme;
    std::string name;
    std::int64_t size;
    LocalStamp stamp;
};

/// File `k` of catalogue `catalogue`: a function of the seed and the two numbers alone, so that the
/// catalogue holding a copy makes the very same row.
File makeFile(std::uint64_t seed, std::uint32_t catalogue, std::uint32_t k) {
    Rng rng(seed, catalogue, k, 1);
    File f;
    const double t = rng.unit();
    f.theme = t < 0.40 ? Photo : t < 0.60 ? Music : t < 0.85 ? Document : t < 0.93 ? Video : Misc;
    f.stamp = randomStamp(rng);
    const Kind& kind = rng.pick(*kKinds[f.theme]);
    const auto& s = f.stamp;
    std::string base;
    switch (f.theme) {
    case Photo:
        switch (rng.below(7)) {
        case 0: case 1: base = format("IMG_%04u", rng.below(10000)); break;
        case 2: base = format("DSC%05u", rng.below(100000)); break;
        case 3: base = format("%04d%02d%02d_%02d%02d%02d", s.year, s.month, s.day, s.hour, s.minute, s.second); break;
        case 4: base = format("%s %s %u", rng.pick(kPlaces), rng.pick(kEvents), rng.below(300) + 1); break;
        case 5: base = format("P%07u", rng.below(10000000)); break;
        default: base = format("%s_%03u", rng.pick(kEvents), rng.below(1000)); break;
        }
        break;
    case Music:
        switch (rng.below(4)) {
        case 0: base = format("%02u %s", rng.below(20) + 1, rng.pick(kTitles)); break;
        case 1: base = format("%02u %s (Live)", rng.below(20) + 1, rng.pick(kTitles)); break;
        case 2: base = format("%s - %s", rng.pick(kArtists), rng.pick(kTitles)); break;
        default: base = format("%u-%02u %s", rng.below(3) + 1, rng.below(20) + 1, rng.pick(kTitles)); break;
        }
        break;
    case Document:
        switch (rng.below(6)) {
        case 0: base = format("%s_%04d%02d%02d", rng.pick(kDocWords), s.year, s.month, s.day); break;
        case 1: base = format("%s %04d-%02d-%02d", rng.pick(kDocWords), s.year, s.month, s.day); break;
        case 2: base = format("%s（最終版）", rng.pick(kDocWords)); break;
        case 3: base = format("第%u回 %s", rng.below(50) + 1, rng.pick(kDocWords)); break;
        case 4: base = format("%s_v%u", rng.pick(kDocWords), rng.below(9) + 1); break;
        default: base = format("%s - コピー (%u)", rng.pick(kDocWords), rng.below(5) + 1); break;
        }
        break;
    case Video:
        switch (rng.below(4)) {
        case 0: base = format("MVI_%04u", rng.below(10000)); break;
        case 1: base = format("VID_%04d%02d%02d_%02d%02d%02d", s.year, s.month, s.day, s.hour, s.minute, s.second); break;
        case 2: base = format("%s %s", rng.pick(kEvents), rng.pick(kPlaces)); break;
        default: base = format("%05u", rng.below(100000)); break;
        }
        break;
    default:
        switch (rng.below(3)) {
        case 0: base = rng.pick(kMisc); break;
        case 1: base = format("%s %u", rng.pick(kMisc), rng.below(100) + 1); break;
        default: base = format("%s_%04d", rng.pick(kMisc), s.year); break;
        }
        break;
    }
    f.name = base + "." + kind.extension;
    // Sizes spread evenly on a log scale between the kind's bounds; one file in a hundred is empty.
    if (rng.chance(0.01) || kind.maxBytes < 1) {
        f.size = 0;
    } else {
        const double low = std::max(kind.minBytes, 1.0);
        f.size = static_cast<std::int64_t>(low * std::pow(kind.maxBytes / low, rng.unit()));
    }
    return f;
}

struct Folder {
    std::uint32_t parent; ///< index in the catalogue's folder list; the root is 0 and has none
    int depth;            ///< the root is 0
    Theme theme;
    std::string name;
    LocalStamp stamp;
    std::vector<std::uint32_t> children;
    std::vector<std::uint32_t> files; ///< indexes into the catalogue's file rows
};

std::string folderName(Rng& rng, const Folder& parent, Theme theme) {
    if (parent.depth == 0) {
        return kTopFolders[theme][rng.below(24)];
    }
    const int year = rng.between(1998, 2026);
    switch (rng.below(10)) {
    case 0: return format("%d", year);
    case 1: return format("%d年", year);
    case 2: return format("%02u月", rng.below(12) + 1);
    case 3: return format("%d-%02u %s %s", year, rng.below(12) + 1, rng.pick(kEvents), rng.pick(kPlaces));
    case 4: return format("%s %d", rng.pick(kEvents), year);
    case 5: return theme == Music ? rng.pick(kArtists) : rng.pick(kPlaces);
    case 6: return format("%u%s", 100 + rng.below(20), theme == Photo ? "CANON" : "_DISC");
    case 7: return kTopFolders[theme][rng.below(24)];
    case 8: return format("新しいフォルダー (%u)", rng.below(9) + 2);
    default: return theme == Document ? rng.pick(kDocWords) : rng.pick(kMisc);
    }
}

/// The folders of catalogue `catalogue`: `count` of them below the root, the first five each a top
/// folder of its own theme, the others inside a random earlier folder (often the last one made, so
/// that chains reach the depth of 8).
std::vector<Folder> makeFolders(std::uint64_t seed, std::uint32_t catalogue, std::uint32_t count) {
    Rng rng(seed, catalogue, 0, 2);
    std::vector<Folder> folders;
    folders.push_back(Folder{0, 0, Misc, {}, randomStamp(rng), {}, {}});
    for (std::uint32_t i = 1; i <= count; ++i) {
        std::uint32_t parent = 0;
        if (i > kThemes) {
            parent = rng.chance(0.45) ? i - 1 : rng.below(i);
            if (rng.chance(0.05)) {
                parent = 0;
            }
            while (folders[parent].depth >= 8) {
                parent = folders[parent].parent;
            }
        }
        const Theme theme = parent == 0 ? static_cast<Theme>(i <= kThemes ? i - 1 : rng.below(kThemes))
                                        : folders[parent].theme;
        Folder f{parent, folders[parent].depth + 1, theme, folderName(rng, folders[parent], theme),
                 randomStamp(rng), {}, {}};
        folders.push_back(std::move(f));
        folders[parent].children.push_back(i);
    }
    return folders;
}

/// The volume label of catalogue `c`: what people write on discs and disks, unique in the library.
std::string labelOf(std::uint32_t c) {
    const std::uint32_t serial = c / 8 + 1;
    switch (c % 8) {
    case 0: return format("DVD_%04u", serial);
    case 1: return format("写真 %u", 2000 + serial % 26) + (serial > 26 ? format("-%u", serial / 26) : "");
    case 2: return format("BD_%04u", serial);
    case 3: return format("USB_32GB_%02u", serial);
    case 4: return format("バックアップ %04u", serial);
    case 5: return format("音楽 CD-R %u", serial);
    case 6: return format("HDD_外付け_%u", serial);
    default: return format("仕事 %u", serial);
    }
}

struct Options {
    std::string out;
    std::string templatePath;
    std::uint32_t count = 1000;
    std::uint32_t entries = 10000;
    std::uint64_t seed = 1;
    int csvPercent = 10;
    int jobs = 2;
};

bool isCsv(const Options& o, std::uint32_t c) {
    return Rng(o.seed, c, 0, 3).below(100) < static_cast<std::uint32_t>(o.csvPercent);
}

std::string fileNameOf(const Options& o, std::uint32_t c) {
    // A made-at time that differs per catalogue: one every 97 minutes from 2024-01-01.
    const std::int64_t minutes = static_cast<std::int64_t>(c) * 97;
    const std::int64_t day = minutes / 1440;
    const int hour = static_cast<int>(minutes % 1440 / 60);
    const int minute = static_cast<int>(minutes % 60);
    const std::chrono::year_month_day date{std::chrono::sys_days{std::chrono::year{2024} / 1 / 1} +
                                           std::chrono::days{day}};
    const int y = static_cast<int>(date.year());
    const int m = static_cast<int>(static_cast<unsigned>(date.month()));
    const int d = static_cast<int>(static_cast<unsigned>(date.day()));
    return labelOf(c) + format("_%04d%02d%02d-%02d%02d%02d", y, m, d, hour, minute, static_cast<int>(c % 60)) +
           (isCsv(o, c) ? ".csv" : ".xlsx");
}

/// Fills `list` with catalogue c's rows: each folder's row, then its files, then its subfolders.
void fillCatalogue(const Options& o, std::uint32_t c, EntryList& list) {
    list.clear();
    const std::string label = labelOf(c);
    list.setVolumeLabel(QString::fromStdString(label));
    const std::uint32_t folderRows = std::max<std::uint32_t>(1, o.entries / 40);
    const std::uint32_t fileRows = o.entries > folderRows ? o.entries - folderRows : 0;
    const std::uint32_t copies = o.count > 1 ? fileRows / 8 : 0;
    const std::uint32_t own = fileRows - copies;
    std::vector<Folder> folders = makeFolders(o.seed, c, o.entries > folderRows ? folderRows : o.entries);

    std::vector<File> files;
    files.reserve(fileRows);
    for (std::uint32_t k = 0; k < own; ++k) {
        files.push_back(makeFile(o.seed, c, k));
    }
    const std::uint32_t previous = (c + o.count - 1) % o.count;
    for (std::uint32_t k = 0; k < copies; ++k) {
        files.push_back(makeFile(o.seed, previous, k));
    }
    // Each file goes into a folder of its theme, else the root.
    std::array<std::vector<std::uint32_t>, kThemes> byTheme;
    for (std::uint32_t i = 1; i < folders.size(); ++i) {
        byTheme[folders[i].theme].push_back(i);
    }
    Rng place(o.seed, c, 0, 4);
    for (std::uint32_t i = 0; i < files.size(); ++i) {
        const auto& candidates = byTheme[files[i].theme];
        const std::uint32_t folder =
            candidates.empty() ? 0 : candidates[place.below(static_cast<std::uint32_t>(candidates.size()))];
        folders[folder].files.push_back(i);
    }

    std::vector<std::uint32_t> listIndex(folders.size());
    listIndex[0] = list.addFolder("/media/kartoma/" + label);
    std::vector<std::uint32_t> stack{0};
    while (!stack.empty()) {
        const std::uint32_t f = stack.back();
        stack.pop_back();
        const Folder& folder = folders[f];
        if (f != 0) {
            list.append(listIndex[folder.parent], folder.name, 0, folder.stamp, EntryType::Folder);
            listIndex[f] = list.addFolder(listIndex[folder.parent], folder.name, true);
        }
        for (const std::uint32_t i : folder.files) {
            list.append(listIndex[f], files[i].name, files[i].size, files[i].stamp, EntryType::File);
        }
        for (auto it = folder.children.rbegin(); it != folder.children.rend(); ++it) {
            stack.push_back(*it);
        }
    }
}

void writeCatalogue(const Options& o, std::uint32_t c, EntryList& list, CatalogueProgress& quiet) {
    fillCatalogue(o, c, list);
    const QString path = QString::fromStdString(o.out + "/" + fileNameOf(o, c));
    if (isCsv(o, c)) {
        saveCsv(list, CsvEncoding::Cp932, path);
        return;
    }
    SaveAtPresenter presenter(path);
    WorkbookOpener workbooks;
    writeTitledOnFirstPage({workbooks, presenter}, list, QString::fromStdString(o.templatePath), quiet);
}

int runJob(const Options& o, int job) {
    EntryList list;
    CatalogueProgress quiet;
    try {
        for (std::uint32_t c = static_cast<std::uint32_t>(job); c < o.count; c += static_cast<std::uint32_t>(o.jobs)) {
            writeCatalogue(o, c, list, quiet);
            if (job == 0 && (c / static_cast<std::uint32_t>(o.jobs)) % 50 == 49) {
                std::fprintf(stderr, "make_library: %u of %u\n", c + 1, o.count);
            }
        }
    } catch (const Failure& f) {
        std::fprintf(stderr, "make_library: %s\n", qPrintable(f.worded(QStringLiteral("%1"), QStringLiteral(": "))));
        return 1;
    }
    return 0;
}

[[noreturn]] void usage() {
    std::fprintf(stderr, "usage: make_library OUTPUT_FOLDER TEMPLATE [--count N] [--entries N] [--seed N] "
                         "[--csv-percent P] [--jobs N]\n");
    std::exit(2);
}

} // namespace

int main(int argc, char** argv) {
    Options o;
    std::vector<std::string> positional;
    for (int i = 1; i < argc; ++i) {
        const std::string_view arg = argv[i];
        const auto value = [&]() -> unsigned long long {
            if (i + 1 >= argc) {
                usage();
            }
            return std::strtoull(argv[++i], nullptr, 10);
        };
        if (arg == "--count") {
            o.count = static_cast<std::uint32_t>(value());
        } else if (arg == "--entries") {
            o.entries = static_cast<std::uint32_t>(value());
        } else if (arg == "--seed") {
            o.seed = value();
        } else if (arg == "--csv-percent") {
            o.csvPercent = static_cast<int>(std::min(value(), 100ULL));
        } else if (arg == "--jobs") {
            o.jobs = static_cast<int>(std::clamp(value(), 1ULL, 64ULL));
        } else if (arg.starts_with("--")) {
            usage();
        } else {
            positional.emplace_back(arg);
        }
    }
    if (positional.size() != 2 || o.count == 0 || o.entries == 0) {
        usage();
    }
    o.out = positional[0];
    o.templatePath = positional[1];
    const auto start = std::chrono::steady_clock::now();
    // One process per job: the writers keep no shared state, and processes need no locking.
    std::vector<pid_t> children;
    for (int job = 0; job < o.jobs; ++job) {
        const pid_t pid = fork();
        if (pid == 0) {
            std::_Exit(runJob(o, job));
        }
        if (pid < 0) {
            std::perror("make_library: fork");
            return 1;
        }
        children.push_back(pid);
    }
    int failed = 0;
    for (const pid_t pid : children) {
        int status = 0;
        waitpid(pid, &status, 0);
        failed += !(WIFEXITED(status) && WEXITSTATUS(status) == 0);
    }
    const double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    std::printf("make_library: %u catalogues of %u entries in %s (%d%% CSV), %.1f s\n", o.count, o.entries,
                o.out.c_str(), o.csvPercent, seconds);
    return failed == 0 ? 0 : 1;
}
