// The recorder's vocabulary of camera alarms: which topics of a camera's
// topic set become alarm templates, and with which alarm type code.
//
// Counting (VEK_Onvif_GetAlarmNum) and building (VEK_Onvif_Event_ParsePropeMsg)
// both read this one table. A row is counted when every name it involves
// (start, guard, topic) is a descendant of the root topic; it is built from
// the first start element below the root, so anything that can be built is
// also counted and the template array sized from the count cannot overflow.
#ifndef VEK_ALARM_TOPIC_TABLE_H
#define VEK_ALARM_TOPIC_TABLE_H

#include <mxml.h>

#include <cstdint>
#include <cstring>

#include "vek_onvif_event.h"

namespace vek
{

struct AlarmTopicRow {
    const char *root;  // name of the root topic (child of Message)
    const char *start; // first element of this name below the root; null: the root itself
    const char *guard; // the root must also hold an element of this name; null: no guard
    const char *topic; // alarm topic looked up below the start element
    uint32_t alarmType;
};

// Rows of one root are built in table order.
inline constexpr AlarmTopicRow kAlarmTopicTable[] = {
    {"VideoSource", nullptr, nullptr, "MotionAlarm", VEK_ALARM_MOTION},
    {"VideoSource", nullptr, nullptr, "Tampering", VEK_ALARM_TAMPER},
    {"VideoSource", nullptr, nullptr, "SmartTracking", VEK_ALARM_SMART_TRACKING},
    {"VideoSource", "GlobalSceneChange", nullptr, "ImagingService", VEK_ALARM_TAMPER},
    {"VideoSource", "GlobalSceneChange", nullptr, "AnalyticsService",
     VEK_ALARM_SCENE_CHANGE_ANALYTICS},
    {"VideoSource", "ImageTooBlurry", nullptr, "AnalyticsService", VEK_ALARM_IMAGE_BLURRY},
    {"VideoSource", "ImageTooBlurry", nullptr, "ImagingService", VEK_ALARM_IMAGE_BLURRY},
    {"VideoSource", nullptr, nullptr, "DoorbellAlarm", VEK_ALARM_DOORBELL},
    {"VideoSource", "ImageTooDark", nullptr, "ImagingService", VEK_ALARM_TAMPER},
    {"VideoSource", "ImageTooDark", nullptr, "AnalyticsService", VEK_ALARM_TAMPER},
    {"VideoSource", "ImageTooBright", nullptr, "ImagingService", VEK_ALARM_TAMPER},
    {"VideoSource", "ImageTooBright", nullptr, "AnalyticsService", VEK_ALARM_TAMPER},
    {"VideoAnalytics", nullptr, nullptr, "MotionDetection", VEK_ALARM_MOTION},
    {"VideoAnalytics", nullptr, nullptr, "MotionAlarm", VEK_ALARM_MOTION},
    {"VideoAnalytics", "MotionDetector", nullptr, "FigureChanged", VEK_ALARM_MOTION},
    {"AudioAnalytics", "Audio", nullptr, "DetectedSound", VEK_ALARM_SOUND},
    {"RuleEngine", "CellMotionDetector", nullptr, "Motion", VEK_ALARM_MOTION},
    {"RuleEngine", "MotionRegionDetector", nullptr, "Motion", VEK_ALARM_MOTION},
    // Detectors some cameras place below their cell motion detector.
    {"RuleEngine", "CellMotionDetector", nullptr, "Tamper", VEK_ALARM_TAMPER},
    {"RuleEngine", "CellMotionDetector", nullptr, "LineCross", VEK_ALARM_LINE_CROSSED},
    {"RuleEngine", "CellMotionDetector", nullptr, "Intrusion", VEK_ALARM_OBJECTS_INSIDE},
    {"RuleEngine", "PeopleDetector", nullptr, "People", VEK_ALARM_HUMAN_SHAPE},
    {"RuleEngine", "FieldDetector", nullptr, "ObjectsInside", VEK_ALARM_OBJECTS_INSIDE},
    {"RuleEngine", "TamperDetector", nullptr, "Tamper", VEK_ALARM_TAMPER},
    {"RuleEngine", "LineDetector", nullptr, "Crossed", VEK_ALARM_LINE_CROSSED},
    {"RuleEngine", "FaceRecognitionDetector", nullptr, "ObjectIsRecognized",
     VEK_ALARM_FACE_RECOGNISED},
    {"RuleEngine", "FaceRecognitionDetector", nullptr, "ObjectAttribute",
     VEK_ALARM_FACE_ATTRIBUTES},
    // The code follows the classes of the object (human shape or motion).
    {"RuleEngine", "ObjectDetection", nullptr, "Object", VEK_ALARM_HUMAN_SHAPE},
    // An object left behind, below whatever rule reports it.
    {"RuleEngine", nullptr, nullptr, "Package", VEK_ALARM_REMAIN_ARTICLE},
    {"Device", "Trigger", nullptr, "DigitalInput", VEK_ALARM_DIGITAL_INPUT},
    {"Device", "IO", nullptr, "Port", VEK_ALARM_DIGITAL_INPUT},
    {"Device", "Sensor", nullptr, "PIR", VEK_ALARM_MOTION},
    {"Configuration", nullptr, nullptr, "VideoAnalyticsConfiguration", VEK_ALARM_ANALYTICS_CONFIG},
    {"UserAlarm", nullptr, nullptr, "IllegalLogin", VEK_ALARM_ILLEGAL_LOGIN},
    // Spelling some cameras use; a camera offering both yields two templates.
    {"UserAlarm", nullptr, nullptr, "IlleggalLogin", VEK_ALARM_ILLEGAL_LOGIN},
    {"UserAlarm", "IVA", nullptr, "HumanShapeDetect", VEK_ALARM_HUMAN_SHAPE},
    {"UserAlarm", nullptr, "IVA", "RemainArticle", VEK_ALARM_REMAIN_ARTICLE},
    {"UserAlarm", nullptr, "IVA", "CareArticle", VEK_ALARM_CARE_ARTICLE},
    {"UserAlarm", nullptr, nullptr, "VideoCover", VEK_ALARM_TAMPER},
};

// The root topic below which the smart-report capabilities are read.
inline constexpr const char *kSmartReportRoot = "UserAlarm";

// Names of table roots are compared exactly (case-sensitive, no prefix).
inline bool isTableRoot(const char *name)
{
    for (const AlarmTopicRow &row : kAlarmTopicTable) {
        if (std::strcmp(row.root, name) == 0) {
            return true;
        }
    }
    return false;
}

// Calls visit(element) for every element directly below message, in
// document order; text and comment nodes are passed over.
template <typename Visit> void forEachRootTopic(mxml_node_t *message, Visit visit)
{
    for (mxml_node_t *node = mxmlGetFirstChild(message); node != nullptr;
         node = mxmlGetNextSibling(node)) {
        if (mxmlGetType(node) == MXML_ELEMENT) {
            visit(node);
        }
    }
}

// True when root (an element below the Message) is a root topic of the
// table; otherwise logs, under func, that it is passed over.
bool isConcernedRoot(mxml_node_t *root, const char *func);

// Calls visit(root, name) for every root topic below message that the table
// knows, in document order; any other is logged and passed over.
template <typename Visit>
void forEachTableRootTopic(mxml_node_t *message, const char *func, Visit visit)
{
    forEachRootTopic(message, [&](mxml_node_t *root) {
        if (isConcernedRoot(root, func)) {
            visit(root, mxmlGetElement(root));
        }
    });
}

// First element of that name below node (node itself excluded), in
// depth-first document order; null when there is none.
inline mxml_node_t *findDescendant(mxml_node_t *node, const char *name)
{
    return mxmlFindElement(node, node, name, nullptr, nullptr, MXML_DESCEND);
}

// 1 when node has a descendant element named exactly name, else 0; null
// arguments give 0.
uint32_t hasSubNode(mxml_node_t *node, const char *name);

} // namespace vek

#endif // VEK_ALARM_TOPIC_TABLE_H
