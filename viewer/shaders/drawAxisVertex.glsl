#version 330
// Vertices 0 to nbSegments form the unit circle; the last two are the radius from (1, 0) to the centre.
in vec2 position;
uniform mat4 projMat;
uniform vec3 center;
uniform int axisType;
uniform int nbSegments;
uniform float radius;
out vec4 color;

void main() {
    vec2 p = position * radius;
    bool onCircle = gl_VertexID <= nbSegments;
    vec3 q;
    if (axisType == 0) {
        q = vec3(0.0, p.x, p.y);
        color = onCircle ? vec4(1.0, 0.0, 0.0, 1.0) : vec4(0.0, 1.0, 0.0, 1.0);
    } else if (axisType == 1) {
        q = vec3(p.y, 0.0, p.x);
        color = onCircle ? vec4(0.0, 1.0, 0.0, 1.0) : vec4(0.0, 0.0, 1.0, 1.0);
    } else {
        q = vec3(p.x, p.y, 0.0);
        color = onCircle ? vec4(0.0, 0.0, 1.0, 1.0) : vec4(1.0, 0.0, 0.0, 1.0);
    }
    gl_Position = projMat * vec4(q + center, 1.0);
}
