#version 330
uniform bool highlight;
uniform uint inObjId;
layout(location = 0) out vec4 diffuseColor;
layout(location = 1) out uint objId;

void main() {
    diffuseColor = highlight ? vec4(1.0, 0.0, 0.0, 1.0) : vec4(0.0, 1.0, 0.0, 1.0);
    objId = inObjId;
}
