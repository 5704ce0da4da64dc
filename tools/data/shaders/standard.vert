// Every textured draw: meshes, sprites, menus, text, particles. UV2 adds the mask's uv set.
attribute highp vec4 vertex;
attribute mediump vec2 uvcoord;
uniform highp mat4 pvm;
varying mediump vec2 vertexUVCoord;
#ifdef UV2
attribute mediump vec2 uvcoord2;
varying mediump vec2 vertexUVCoord2;
#endif

void main() {
    vertexUVCoord = uvcoord;
#ifdef UV2
    vertexUVCoord2 = uvcoord2;
#endif
    gl_Position = pvm * vertex;
}
