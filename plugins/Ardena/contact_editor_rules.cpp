// The contact editor's window-free rules; see contact_editor_rules.h.
#include "contact_editor_rules.h"

#include <algorithm>
#include <cwctype>

namespace ardena {

const wchar_t* const kStreetHint = L"Street";
const wchar_t* const kCityHint = L"City";
const wchar_t* const kStateHint = L"State";
const wchar_t* const kPostalCodeHint = L"Postal Code";
const wchar_t* const kJobTitleHint = L"Jobtitle";
const wchar_t* const kDepartmentHint = L"Department";
const wchar_t* const kCompanyHint = L"Company";

namespace {

std::wstring Trim(const std::wstring& text) {
    size_t begin = 0;
    size_t end = text.size();
    while (begin < end && std::iswspace(static_cast<wint_t>(text[begin]))) ++begin;
    while (end > begin && std::iswspace(static_cast<wint_t>(text[end - 1]))) --end;
    return text.substr(begin, end - begin);
}

const std::wstring& TextAt(const RowInput& input, size_t index) {
    static const std::wstring kEmpty;
    return index < input.texts.size() ? input.texts[index] : kEmpty;
}

// A trimmed text that is neither empty nor the edit's hint, else empty.
std::wstring Typed(const RowInput& input, size_t index, const wchar_t* hint) {
    const std::wstring text = Trim(TextAt(input, index));
    return text == hint ? std::wstring() : text;
}

const std::vector<WideStringPair>& LabelsOf(const ContactLabelTable& labels, const wchar_t* kind) {
    static const std::vector<WideStringPair> kNone;
    auto it = labels.find(kind);
    return it == labels.end() ? kNone : it->second.labels;
}

const std::vector<WideStringPair>& CountriesOf(const ContactLabelTable& labels) {
    static const std::vector<WideStringPair> kNone;
    auto it = labels.find(CONTACT_KIND_ADDRESS);
    return it == labels.end() ? kNone : it->second.countries;
}

// The label a combo shows for (key, text): the first entry with the key, replaced in the edit part by the
// record's own text when it has one; an unknown key shows the text alone, or the first entry.
void SelectLabel(const std::vector<WideStringPair>& entries, const std::wstring& key, const std::wstring& text,
                 RowContent& content) {
    const int index = FindLabelIndex(entries, key);
    if (index >= 0) {
        content.labelIndex = index;
        content.labelText = text.empty() ? entries[static_cast<size_t>(index)].second : text;
    } else if (!text.empty()) {
        content.labelText = text;
    } else if (!entries.empty()) {
        content.labelIndex = 0;
        content.labelText = entries[0].second;
    }
}

// (key, label text) read from a label combo: the selected entry's key with the combo's text, or "other" with
// the typed text.
WideStringPair ReadLabel(const std::vector<WideStringPair>& entries, const RowInput& input) {
    if (input.labelIndex >= 0 && static_cast<size_t>(input.labelIndex) < entries.size()) {
        return {entries[static_cast<size_t>(input.labelIndex)].first, input.labelText};
    }
    return {L"other", input.labelText};
}

// Whether the row's `index`th edit still holds what it showed when the row was made.
bool Untouched(const RowInput* shown, const RowInput& input, size_t index) {
    return shown != nullptr && index < shown->texts.size() && index < input.texts.size() &&
           shown->texts[index] == input.texts[index];
}

// Whether the label (or service) combo of a row over a value read from the device still shows what it
// showed when the row was made: the value's own label strings then go back as they were.
bool LabelUntouched(const RowSeed& seed, const RowInput* shown, const RowInput& input) {
    return seed.record->flag != 0 && shown != nullptr && shown->labelIndex == input.labelIndex &&
           shown->labelText == input.labelText;
}

bool CountryUntouched(const RowSeed& seed, const RowInput* shown, const RowInput& input) {
    return seed.record->flag != 0 && shown != nullptr && shown->countryIndex == input.countryIndex;
}

// An edit's text as saved: the record's own text while the edit shows what it was given, else `typed`.
std::wstring SavedText(const std::wstring& own, const RowInput* shown, const RowInput& input, size_t index,
                       const std::wstring& typed) {
    return Untouched(shown, input, index) ? own : typed;
}

template <typename Record>
std::shared_ptr<Record> CopyOf(const std::shared_ptr<iOSContactProperty>& record) {
    return std::make_shared<Record>(*static_cast<const Record*>(record.get()));
}

std::shared_ptr<iOSContactProperty> SingleValueRow(RowKind kind, const std::wstring& value) {
    auto record = NewRowRecord(kind);
    record->value = value;
    return record;
}

// A typed date gets its time of day; a stored date text that the user left as it was stays as it is.
std::wstring SavedDateText(const std::wstring& value) { return IsDateText(value) ? StoredDateText(value) : value; }

std::vector<std::wstring> Sorted(std::vector<std::wstring> list) {
    std::stable_sort(list.begin(), list.end());
    return list;
}

// `from` less every text that `other` also holds.
std::vector<std::wstring> Without(const std::vector<std::wstring>& from, const std::vector<std::wstring>& other) {
    std::vector<std::wstring> out;
    for (const std::wstring& text : from) {
        if (!std::binary_search(other.begin(), other.end(), text)) out.push_back(text);
    }
    return out;
}

}  // namespace

const std::vector<RowKindInfo>& RowKinds() {
    static const std::vector<RowKindInfo> kinds = {
        {RowKind::kPhoneticFirst, L"Phonetic first name", 5000, 5001, L"FirstNameYomi", RowShape::kSingleEdit, 9010},
        {RowKind::kPhoneticMiddle, L"Phonetic middle name", 5002, 5003, L"MiddleNameYomi", RowShape::kSingleEdit, 9011},
        {RowKind::kPhoneticLast, L"Phonetic last name", 5004, 5005, L"LastNameYomi", RowShape::kSingleEdit, 9012},
        {RowKind::kBirthday, L"Birthday", 5006, 5007, L"Birthday", RowShape::kDateEdit, 9008},
        {RowKind::kDate, L"Date", 5008, 5050, CONTACT_KIND_DATE, RowShape::kLabelledDate, 9007},
        {RowKind::kRelatedName, L"Related Name", 5051, 5099, CONTACT_KIND_RELATED_NAME, RowShape::kLabelled, 9009},
        {RowKind::kPhone, L"Phone Number", 5100, 5199, CONTACT_KIND_PHONE, RowShape::kLabelled, 0},
        {RowKind::kEmail, L"Email", 5200, 5299, CONTACT_KIND_EMAIL, RowShape::kLabelled, 9000},
        {RowKind::kIM, L"IM", 5300, 5399, CONTACT_KIND_IM, RowShape::kIM, 9001},
        {RowKind::kAddress, L"Address", 5400, 5499, CONTACT_KIND_ADDRESS, RowShape::kAddress, 9002},
        {RowKind::kNote, L"Note", 5500, 5501, L"Note", RowShape::kNote, 9003},
        {RowKind::kNickname, L"Nickname", 5600, 5601, L"Nickname", RowShape::kSingleEdit, 9004},
        {RowKind::kOrganization, L"Organization", 5700, 5701, L"Organization", RowShape::kOrganization, 9005},
        {RowKind::kUrl, L"Url", 5800, 5899, CONTACT_KIND_URL, RowShape::kLabelled, 9006},
    };
    return kinds;
}

const RowKindInfo* FindRowKind(RowKind kind) {
    for (const RowKindInfo& info : RowKinds()) {
        if (info.kind == kind) return &info;
    }
    return nullptr;
}

const RowKindInfo* FindRowKindByRecordKind(const std::wstring& recordKind) {
    for (const RowKindInfo& info : RowKinds()) {
        if (recordKind == info.recordKind) return &info;
    }
    return nullptr;
}

const RowKindInfo* FindRowKindByAddFieldId(int menuId) {
    for (const RowKindInfo& info : RowKinds()) {
        if (info.addFieldId != 0 && info.addFieldId == menuId) return &info;
    }
    return nullptr;
}

const RowKindInfo* FindRowKindById(int controlId) {
    for (const RowKindInfo& info : RowKinds()) {
        if (controlId >= info.firstId && controlId <= info.lastId) return &info;
    }
    return nullptr;
}

bool IsMultiValued(RowKind kind) {
    switch (kind) {
    case RowKind::kDate:
    case RowKind::kRelatedName:
    case RowKind::kPhone:
    case RowKind::kEmail:
    case RowKind::kIM:
    case RowKind::kAddress:
    case RowKind::kUrl: return true;
    default: return false;
    }
}

const std::vector<AddFieldEntry>& AddFieldTable() {
    static const std::vector<AddFieldEntry> table = {
        {9000, L"Email", CONTACT_KIND_EMAIL},
        {9001, L"Im", CONTACT_KIND_IM},
        {9002, L"Address", CONTACT_KIND_ADDRESS},
        {9003, L"Note", L"Note"},
        {9004, L"Nickname", L"Nickname"},
        {9005, L"Organization", L"Organization"},
        {9006, L"Url", CONTACT_KIND_URL},
        {9007, L"Date", CONTACT_KIND_DATE},
        {9008, L"Birthday", L"Birthday"},
        {9009, L"Related Name", CONTACT_KIND_RELATED_NAME},
        {9010, L"Phonetic first name", L"FirstNameYomi"},
        {9011, L"Phonetic middle name", L"MiddleNameYomi"},
        {9012, L"Phonetic last name", L"LastNameYomi"},
    };
    return table;
}

std::wstring DateHint(const std::wstring& year) { return L"YYYY-MM-DD e.g. " + year + L"-01-01"; }

std::shared_ptr<iOSContactProperty> NewRowRecord(RowKind kind) {
    std::shared_ptr<iOSContactProperty> record;
    if (kind == RowKind::kAddress) {
        record = std::make_shared<iOSContactAddress>();
    } else if (kind == RowKind::kIM) {
        auto im = std::make_shared<iOSContactIM>();
        im->labelKey = L"other";
        record = im;
    } else {
        record = std::make_shared<iOSContactProperty>();
    }
    if (const RowKindInfo* info = FindRowKind(kind)) record->kind = info->recordKind;
    return record;
}

std::vector<RowSeed> SeedRows(iOSContact& contact, bool isNewContact) {
    std::vector<RowSeed> seeds;
    if (isNewContact) {
        seeds.push_back({RowKind::kPhone, NewRowRecord(RowKind::kPhone)});
        seeds.push_back({RowKind::kEmail, NewRowRecord(RowKind::kEmail)});
        seeds.push_back({RowKind::kAddress, NewRowRecord(RowKind::kAddress)});
        return seeds;
    }
    auto copyList = [&seeds](RowKind kind, const std::vector<std::shared_ptr<iOSContactProperty>>& list) {
        for (const auto& entry : list) {
            if (entry) seeds.push_back({kind, std::make_shared<iOSContactProperty>(*entry)});
        }
    };
    const bool hadPhone = !contact.phones.empty();
    copyList(RowKind::kPhone, contact.phones);
    copyList(RowKind::kEmail, contact.emails);
    copyList(RowKind::kUrl, contact.urls);
    copyList(RowKind::kDate, contact.dates);
    copyList(RowKind::kRelatedName, contact.relatedNames);
    for (const auto& entry : contact.instantMessaging) {
        if (entry) seeds.push_back({RowKind::kIM, std::make_shared<iOSContactIM>(*entry)});
    }
    for (const auto& entry : contact.addresses) {
        if (entry) seeds.push_back({RowKind::kAddress, std::make_shared<iOSContactAddress>(*entry)});
    }
    contact.phones.clear();
    contact.emails.clear();
    contact.urls.clear();
    contact.dates.clear();
    contact.relatedNames.clear();
    contact.instantMessaging.clear();
    contact.addresses.clear();

    if (!contact.jobTitle.empty() || !contact.department.empty() || !contact.company.empty()) {
        // The organisation row keeps its three texts in the property fields: label key = job title, value =
        // department, label text = company.
        auto organisation = NewRowRecord(RowKind::kOrganization);
        organisation->labelKey = contact.jobTitle;
        organisation->value = contact.department;
        organisation->labelText = contact.company;
        seeds.push_back({RowKind::kOrganization, organisation});
    }
    const std::pair<RowKind, const std::wstring*> singles[] = {
        {RowKind::kNickname, &contact.nickname},
        {RowKind::kBirthday, &contact.birthday},
        {RowKind::kPhoneticFirst, &contact.phoneticFirstName},
        {RowKind::kPhoneticMiddle, &contact.phoneticMiddleName},
        {RowKind::kPhoneticLast, &contact.phoneticLastName},
        {RowKind::kNote, &contact.note},
    };
    for (const auto& single : singles) {
        if (!single.second->empty()) seeds.push_back({single.first, SingleValueRow(single.first, *single.second)});
    }
    if (!hadPhone) seeds.push_back({RowKind::kPhone, NewRowRecord(RowKind::kPhone)});
    return seeds;
}

RowContent InitialContent(const RowSeed& seed, const ContactLabelTable& labels) {
    RowContent content;
    const iOSContactProperty& record = *seed.record;
    const RowKindInfo* info = FindRowKind(seed.kind);
    if (info == nullptr) return content;
    switch (info->shape) {
    case RowShape::kSingleEdit:
    case RowShape::kNote: content.texts = {record.value}; break;
    case RowShape::kDateEdit: content.texts = {DateTextOf(record.value)}; break;
    case RowShape::kLabelledDate:
        SelectLabel(LabelsOf(labels, info->recordKind), record.labelKey, record.labelText, content);
        content.texts = {DateTextOf(record.value)};
        break;
    case RowShape::kLabelled:
        SelectLabel(LabelsOf(labels, info->recordKind), record.labelKey, record.labelText, content);
        content.texts = {record.value};
        break;
    case RowShape::kIM: {
        const auto& im = static_cast<const iOSContactIM&>(record);
        SelectLabel(LabelsOf(labels, info->recordKind), im.service, im.labelText, content);
        content.texts = {im.userName};
        break;
    }
    case RowShape::kAddress: {
        const auto& address = static_cast<const iOSContactAddress&>(record);
        SelectLabel(LabelsOf(labels, info->recordKind), address.labelKey, address.labelText, content);
        content.texts = {address.street, address.city, address.state, address.postalCode};
        const auto& countries = CountriesOf(labels);
        content.countryIndex = FindLabelIndex(countries, address.countryCode);
        if (content.countryIndex < 0 && !countries.empty()) content.countryIndex = 0;
        break;
    }
    case RowShape::kOrganization: content.texts = {record.labelKey, record.value, record.labelText}; break;
    }
    return content;
}

std::wstring KeptOrTyped(const std::wstring& own, const std::wstring& shown, const std::wstring& typed) {
    return typed == shown ? own : typed;
}

RowInput ShownInput(const RowContent& content) {
    RowInput shown;
    shown.labelIndex = content.labelIndex;
    shown.labelText = content.labelText;
    shown.texts = content.texts;
    shown.countryIndex = content.countryIndex;
    return shown;
}

CollectedRow CollectRow(const RowSeed& seed, const RowInput& input, const ContactLabelTable& labels,
                        const RowInput* shown) {
    CollectedRow row{seed.kind, false, nullptr};
    const RowKindInfo* info = FindRowKind(seed.kind);
    if (info == nullptr || !seed.record) return row;
    const std::wstring& first = TextAt(input, 0);
    const bool firstUntouched = Untouched(shown, input, 0);
    switch (info->shape) {
    case RowShape::kSingleEdit:
    case RowShape::kNote:
    case RowShape::kDateEdit:
        // A value left as it was is saved as it was read (a stored date keeps its time of day).
        if (firstUntouched) {
            row.accepted = !seed.record->value.empty();
        } else {
            row.accepted = info->shape == RowShape::kDateEdit ? IsDateText(first) : !Trim(first).empty();
        }
        if (row.accepted) {
            row.record = CopyOf<iOSContactProperty>(seed.record);
            if (!firstUntouched) row.record->value = first;
        }
        break;
    case RowShape::kLabelledDate:
    case RowShape::kLabelled: {
        if (firstUntouched) {
            row.accepted = !seed.record->value.empty();
        } else {
            row.accepted = info->shape == RowShape::kLabelledDate ? IsDateText(first) : !Trim(first).empty();
        }
        if (row.accepted) {
            row.record = CopyOf<iOSContactProperty>(seed.record);
            if (!LabelUntouched(seed, shown, input)) {
                const WideStringPair label = ReadLabel(LabelsOf(labels, info->recordKind), input);
                row.record->labelKey = label.first;
                row.record->labelText = label.second;
            }
            if (!firstUntouched) row.record->value = first;
        }
        break;
    }
    case RowShape::kIM: {
        const auto& own = static_cast<const iOSContactIM&>(*seed.record);
        const std::wstring user = SavedText(own.userName, shown, input, 0, first);
        row.accepted = !Trim(user).empty();
        if (row.accepted) {
            auto im = CopyOf<iOSContactIM>(seed.record);
            if (!LabelUntouched(seed, shown, input)) {
                const auto& services = LabelsOf(labels, info->recordKind);
                if (input.labelIndex >= 0 && static_cast<size_t>(input.labelIndex) < services.size()) {
                    im->service = services[static_cast<size_t>(input.labelIndex)].first;
                    im->labelText = services[static_cast<size_t>(input.labelIndex)].second;
                } else {
                    im->service = L"other";
                    im->labelText = input.labelText;
                }
                im->labelKey = L"other";
            }
            im->userName = user;
            row.record = im;
        }
        break;
    }
    case RowShape::kAddress: {
        const auto& own = static_cast<const iOSContactAddress&>(*seed.record);
        const std::wstring street = SavedText(own.street, shown, input, 0, Typed(input, 0, kStreetHint));
        const std::wstring city = SavedText(own.city, shown, input, 1, Typed(input, 1, kCityHint));
        const std::wstring state = SavedText(own.state, shown, input, 2, Typed(input, 2, kStateHint));
        const std::wstring postalCode = SavedText(own.postalCode, shown, input, 3, Typed(input, 3, kPostalCodeHint));
        row.accepted = !street.empty() || !city.empty() || !state.empty() || !postalCode.empty();
        if (row.accepted) {
            auto address = CopyOf<iOSContactAddress>(seed.record);
            if (!LabelUntouched(seed, shown, input)) {
                const auto& entries = LabelsOf(labels, info->recordKind);
                if (input.labelIndex >= 0 && static_cast<size_t>(input.labelIndex) < entries.size()) {
                    address->labelKey = entries[static_cast<size_t>(input.labelIndex)].first;
                    address->labelText = entries[static_cast<size_t>(input.labelIndex)].second;
                } else {
                    address->labelKey = L"other";
                    address->labelText = input.labelText;
                }
            }
            address->street = street;
            address->city = city;
            address->state = state;
            address->postalCode = postalCode;
            const auto& countries = CountriesOf(labels);
            if (!CountryUntouched(seed, shown, input) && input.countryIndex >= 0 &&
                static_cast<size_t>(input.countryIndex) < countries.size()) {
                address->countryCode = countries[static_cast<size_t>(input.countryIndex)].first;
                address->country = countries[static_cast<size_t>(input.countryIndex)].second;
            }
            row.record = address;
        }
        break;
    }
    case RowShape::kOrganization: {
        const iOSContactProperty& own = *seed.record;
        const std::wstring jobTitle = SavedText(own.labelKey, shown, input, 0, Typed(input, 0, kJobTitleHint));
        const std::wstring department = SavedText(own.value, shown, input, 1, Typed(input, 1, kDepartmentHint));
        const std::wstring company = SavedText(own.labelText, shown, input, 2, Typed(input, 2, kCompanyHint));
        row.accepted = !jobTitle.empty() || !department.empty() || !company.empty();
        if (row.accepted) {
            row.record = CopyOf<iOSContactProperty>(seed.record);
            row.record->labelKey = jobTitle;
            row.record->value = department;
            row.record->labelText = company;
        }
        break;
    }
    }
    return row;
}

std::unique_ptr<iOSContact> BuildSavedContact(const iOSContact& working, const NameParts& names,
                                              const std::vector<CollectedRow>& rows) {
    auto contact = std::make_unique<iOSContact>(working);
    // Every value comes from the rows: whatever the working record still lists would be sent twice.
    contact->phones.clear();
    contact->emails.clear();
    contact->instantMessaging.clear();
    contact->addresses.clear();
    contact->urls.clear();
    contact->dates.clear();
    contact->relatedNames.clear();
    contact->prefix = names.prefix;
    contact->firstName = names.first;
    contact->middleName = names.middle;
    contact->lastName = names.last;
    contact->suffix = names.suffix;

    contact->groupsBefore = Sorted(working.groupsBefore);
    contact->groupsAfter = Sorted(working.groupsAfter);
    contact->groupsRemoved = Without(contact->groupsBefore, contact->groupsAfter);
    contact->groupsAdded = Without(contact->groupsAfter, contact->groupsBefore);

    for (const CollectedRow& row : rows) {
        if (!row.accepted || !row.record) {
            switch (row.kind) {
            case RowKind::kPhoneticFirst: contact->phoneticFirstName.clear(); break;
            case RowKind::kPhoneticMiddle: contact->phoneticMiddleName.clear(); break;
            case RowKind::kPhoneticLast: contact->phoneticLastName.clear(); break;
            case RowKind::kBirthday: contact->birthday.clear(); break;
            case RowKind::kNote: contact->note.clear(); break;
            case RowKind::kNickname: contact->nickname.clear(); break;
            case RowKind::kOrganization:
                contact->jobTitle.clear();
                contact->department.clear();
                contact->company.clear();
                break;
            default: break;
            }
            continue;
        }
        const auto& record = row.record;
        switch (row.kind) {
        case RowKind::kPhone: contact->phones.push_back(std::make_shared<iOSContactProperty>(*record)); break;
        case RowKind::kEmail: contact->emails.push_back(std::make_shared<iOSContactProperty>(*record)); break;
        case RowKind::kUrl: contact->urls.push_back(std::make_shared<iOSContactProperty>(*record)); break;
        case RowKind::kRelatedName:
            contact->relatedNames.push_back(std::make_shared<iOSContactProperty>(*record));
            break;
        case RowKind::kDate: {
            auto date = std::make_shared<iOSContactProperty>(*record);
            date->value = SavedDateText(record->value);
            contact->dates.push_back(date);
            break;
        }
        case RowKind::kAddress: contact->addresses.push_back(CopyOf<iOSContactAddress>(record)); break;
        case RowKind::kIM: contact->instantMessaging.push_back(CopyOf<iOSContactIM>(record)); break;
        case RowKind::kNickname: contact->nickname = record->value; break;
        case RowKind::kOrganization:
            contact->jobTitle = record->labelKey;
            contact->department = record->value;
            contact->company = record->labelText;
            break;
        case RowKind::kBirthday: contact->birthday = SavedDateText(record->value); break;
        case RowKind::kPhoneticFirst: contact->phoneticFirstName = record->value; break;
        case RowKind::kPhoneticMiddle: contact->phoneticMiddleName = record->value; break;
        case RowKind::kPhoneticLast: contact->phoneticLastName = record->value; break;
        case RowKind::kNote: contact->note = record->value; break;
        }
    }
    return contact;
}

}  // namespace ardena
