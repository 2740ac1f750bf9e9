#version 330
in vec4 color;
flat in uint vertexIndex;
uniform uint objIdOffset;
layout(location = 0) out vec4 diffuseColor;
layout(location = 1) out uint objId;

void main() {
    diffuseColor = color;
    objId = objIdOffset + vertexIndex;
}
