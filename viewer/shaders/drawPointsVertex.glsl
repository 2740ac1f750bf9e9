#version 330
// One point per vertex; the vertex index (the model's point index) travels to the id output.
in vec3 inPosition;
in vec3 inColor;
in float inHighlight;
uniform mat4 projMat;
uniform float sizeFactor;
uniform bool usePerspectiveSize;
uniform vec3 C;
out vec4 color;
flat out uint vertexIndex;

void main() {
    gl_Position = projMat * vec4(inPosition, 1.0);
    float size = sizeFactor;
    if (usePerspectiveSize) {
        size = sizeFactor / distance(inPosition, C);
    }
    gl_PointSize = max(size, 1.0);
    color = inHighlight != 0.0 ? vec4(1.0, 0.0, 0.0, 1.0) : vec4(inColor, 1.0);
    vertexIndex = uint(gl_VertexID);
}
